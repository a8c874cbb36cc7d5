// Password: enciphers the recorder login passwords that the discovery tool keeps in the
// surveillance client's data file, and deciphers them again.
//
// What this protects against:
//  - a password being read off the data file by someone who opens, prints, mails or backs up
//    the file without this library;
//  - a stored value that was altered, cut short or copied in from elsewhere (another tool, a
//    hand edit) being taken for a password: such text deciphers to an empty password, never to
//    bytes that were not enciphered here;
//  - the length of a password: every password of 0 to 63 bytes gives text of the same length.
//
// What this does NOT protect against:
//  - anyone who holds this library (or its source): the key is built into it, so the library
//    itself deciphers every value it ever made. This is obscuring, not access control; protect
//    the data file with file permissions where that matters;
//  - a value copied from one device element to another inside the same file: it deciphers
//    fine, because the text carries no binding to the device it belongs to;
//  - the plain password while it sits in the caller's memory (records, dialogs).
//
// Text form: 140 characters of standard base64 (A-Z a-z 0-9 + /), so it holds no double quote,
// no zero byte and no whitespace, and always fits an XML attribute value that is written without
// escaping and trimmed on reading. Each call uses a fresh random nonce, so enciphering the same
// password twice gives two different texts that both decipher to it.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// The only text form this library knows; callers pass it as the third argument.
#define PASSWORD_FORM_BASE64 1

// Enciphers the terminated plain text `plain` (at most 63 bytes) into `out`, a buffer of at
// least 256 bytes, as terminated base64 text of at most 255 bytes. Gives 1 on success; on a null
// pointer, a plain text longer than 63 bytes or a form other than 1 it gives 0 and, when `out`
// is not null, leaves an empty text there.
__attribute__((visibility("default"))) int EncryptStringEX(const char* plain, char* out, int form);

// Deciphers the terminated text `cipher` (at most 255 bytes, as made by EncryptStringEX) into
// `out`, a password field of 64 bytes, which receives the terminated plain password with the rest
// of the field cleared. Gives 1 on success. Text that this library did not make, or that was
// changed in any byte, gives an empty password and 0; so does a null pointer or a form other
// than 1.
__attribute__((visibility("default"))) int DecryptStringEX(const char* cipher, char* out, int form);

#ifdef __cplusplus
}
#endif

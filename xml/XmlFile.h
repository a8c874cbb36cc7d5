// Reading a whole file into the zero-terminated text buffer that the parser works on.
#pragma once

#include <cstddef>

// Reads the file at path in chunks: each chunk buffer of chunkSize bytes is cleared, filled with
// up to chunkSize - 1 bytes, and its bytes up to its first zero byte are appended to *buffer,
// which stays zero-terminated (its room doubles as it fills). *count adds up the bytes read, zero
// bytes included. *buffer comes from malloc (free it, or hand it to XmlParser::parse, which takes
// it over). Gives true when at least one byte was read; false, with *buffer null and *count 0,
// for null arguments, a chunk size below 2, a file that does not exist or cannot be opened, and
// an empty file. A read error after some chunks keeps the chunks read so far.
bool loadTextFile(const char* path, char** buffer, std::size_t* count, std::size_t chunkSize);

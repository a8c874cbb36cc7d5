#include "clientstore/password/Password.h"
#include "tests/common/ChildProgram.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <array>
#include <cstring>
#include <random>
#include <set>
#include <sstream>
#include <string>

namespace {

constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string encrypt(const std::string& plain) {
    std::array<char, 256> out{};
    EXPECT_EQ(EncryptStringEX(plain.c_str(), out.data(), 1), 1);
    EXPECT_EQ(out.back(), '\0');
    return out.data();
}

// Deciphers into a field pre-filled with junk, so that a field not fully cleared shows up.
std::string decrypt(const std::string& text, int* result = nullptr) {
    std::array<char, 256> in{};
    std::memcpy(in.data(), text.data(), std::min(text.size(), in.size() - 1));
    std::array<char, 64> field;
    field.fill('\xAA');
    const int rc = DecryptStringEX(in.data(), field.data(), 1);
    if (result != nullptr) {
        *result = rc;
    }
    const std::size_t len = strnlen(field.data(), field.size());
    EXPECT_LT(len, field.size()) << "password field not terminated";
    for (std::size_t i = len; i < field.size(); ++i) {
        EXPECT_EQ(field[i], '\0') << "byte " << i << " of the password field left uncleared";
    }
    return std::string(field.data(), len);
}

// The text is stored as an XML attribute value that is neither escaped nor untrimmed.
void expectStorable(const std::string& text) {
    ASSERT_FALSE(text.empty());
    EXPECT_LE(text.size(), 255u);
    EXPECT_EQ(text.find('"'), std::string::npos);
    EXPECT_EQ(text.find_first_not_of(kAlphabet), std::string::npos) << text;
    EXPECT_GT(static_cast<unsigned char>(text.front()), 32);
    EXPECT_GT(static_cast<unsigned char>(text.back()), 32);
}

TEST(Password, RoundTripsEveryLengthFromZeroTo63) {
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> byte(1, 255);
    std::set<std::size_t> textLengths;
    for (std::size_t len = 0; len <= 63; ++len) {
        std::string plain;
        for (std::size_t i = 0; i < len; ++i) {
            plain.push_back(static_cast<char>(byte(rng)));
        }
        const std::string text = encrypt(plain);
        expectStorable(text);
        textLengths.insert(text.size());
        EXPECT_EQ(decrypt(text), plain) << "length " << len;
    }
    // The text does not give the password's length away.
    EXPECT_EQ(textLengths.size(), 1u);
}

TEST(Password, RoundTripsEveryByteValue) {
    for (int b = 1; b <= 255; ++b) {
        const std::string one(1, static_cast<char>(b));
        const std::string full(63, static_cast<char>(b));
        EXPECT_EQ(decrypt(encrypt(one)), one) << "byte " << b;
        EXPECT_EQ(decrypt(encrypt(full)), full) << "byte " << b;
    }
    std::string mixed;
    for (int b = 1; b <= 255; ++b) {
        mixed.push_back(static_cast<char>(b));
        if (mixed.size() == 63 || b == 255) {
            EXPECT_EQ(decrypt(encrypt(mixed)), mixed);
            mixed.clear();
        }
    }
}

TEST(Password, SamePasswordGivesDifferentTextsThatBothDecipher) {
    const std::string a = encrypt("secret");
    const std::string b = encrypt("secret");
    EXPECT_NE(a, b);
    EXPECT_EQ(decrypt(a), "secret");
    EXPECT_EQ(decrypt(b), "secret");
}

TEST(Password, EveryChangedCharacterGivesAnEmptyPassword) {
    const std::string text = encrypt("admin123");
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        for (const char* c = kAlphabet; *c != '\0'; ++c) {
            if (*c == text[pos]) {
                continue;
            }
            std::string changed = text;
            changed[pos] = *c;
            int rc = -1;
            ASSERT_EQ(decrypt(changed, &rc), "") << "position " << pos << " as " << *c;
            ASSERT_EQ(rc, 0);
        }
    }
}

TEST(Password, CutOrLengthenedOrForeignTextGivesAnEmptyPassword) {
    const std::string text = encrypt("admin123");
    const std::string foreign[] = {
        "",
        "admin123",
        text.substr(1),
        text.substr(0, text.size() - 1),
        text + "A",
        text + " ",
        " " + text.substr(1),
        text.substr(0, 139) + "=",
        std::string(text.size(), 'A'),
        std::string(255, 'A'),
        "\"" + text.substr(1),
        text.substr(0, 70) + "\n" + text.substr(71),
    };
    for (const std::string& f : foreign) {
        int rc = -1;
        EXPECT_EQ(decrypt(f, &rc), "") << f;
        EXPECT_EQ(rc, 0) << f;
    }
}

TEST(Password, UnterminatedInputIsNotReadPastItsBuffer) {
    // 256 bytes without a terminator: the library must stop at the buffer's end.
    std::array<char, 256> in;
    in.fill('A');
    std::array<char, 64> field;
    field.fill('x');
    EXPECT_EQ(DecryptStringEX(in.data(), field.data(), 1), 0);
    EXPECT_EQ(field[0], '\0');
}

TEST(Password, RefusesWhatItCannotHonour) {
    std::array<char, 256> out;
    out.fill('x');
    EXPECT_EQ(EncryptStringEX(std::string(64, 'p').c_str(), out.data(), 1), 0)
        << "64 bytes do not fit a field";
    EXPECT_EQ(out[0], '\0');

    out.fill('x');
    EXPECT_EQ(EncryptStringEX("secret", out.data(), 2), 0) << "unknown text form";
    EXPECT_EQ(out[0], '\0');
    const std::string text = encrypt("secret");
    std::array<char, 64> field;
    field.fill('x');
    EXPECT_EQ(DecryptStringEX(text.c_str(), field.data(), 0), 0);
    EXPECT_EQ(field[0], '\0');

    out.fill('x');
    EXPECT_EQ(EncryptStringEX(nullptr, out.data(), 1), 0);
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(EncryptStringEX("secret", nullptr, 1), 0);
    field.fill('x');
    EXPECT_EQ(DecryptStringEX(nullptr, field.data(), 1), 0);
    EXPECT_EQ(field[0], '\0');
    EXPECT_EQ(DecryptStringEX(text.c_str(), nullptr, 1), 0);
}

TEST(Password, SharedLibraryExportsTheTwoFunctionsOnly) {
    const std::string path = std::string(KST_BIN_DIR) + "/libPassword.so";
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    using Fn = int (*)(const char*, char*, int);
    auto enc = reinterpret_cast<Fn>(dlsym(lib, "EncryptStringEX"));
    auto dec = reinterpret_cast<Fn>(dlsym(lib, "DecryptStringEX"));
    ASSERT_NE(enc, nullptr);
    ASSERT_NE(dec, nullptr);
    std::array<char, 256> text{};
    std::array<char, 64> field{};
    enc("via dlopen", text.data(), 1);
    dec(text.data(), field.data(), 1);
    EXPECT_STREQ(field.data(), "via dlopen");
    dlclose(lib);

    const ChildResult nm = RunProgram({"nm", "-D", "--defined-only", path});
    ASSERT_EQ(nm.status, 0) << nm.err;
    std::set<std::string> functions;
    std::istringstream lines(nm.out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name && (type == "T" || type == "W")) {
            functions.insert(name);
        }
    }
    functions.erase("_init");
    functions.erase("_fini");
    EXPECT_EQ(functions, (std::set<std::string>{"DecryptStringEX", "EncryptStringEX"}));
}

} // namespace

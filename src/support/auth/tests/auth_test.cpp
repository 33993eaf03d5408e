// Login challenges and responses, checked against the openssl tool.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <set>
#include <string>

#include "auth.h"

namespace {

std::string run(const std::string &cmd) {
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[256];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
    return out;
}

TEST(Auth, response_is_the_hmac_sha256_that_openssl_computes) {
    const struct {
        const char *challenge, *password;
    } cases[] = {{"Ab3dEf9hIjK", "s3cret"}, {"00000000000", "x"}, {"zzzzzzzzzzz", "pass word"}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.challenge);
        char resp[AUTH_RESPONSE_LENGTH + 1];
        Auth_Do(c.challenge, c.password, resp);
        std::string out = run(std::string("printf %s '") + c.challenge + "' | openssl dgst -sha256 -hmac '" +
                              c.password + "'");
        ASSERT_FALSE(out.empty()) << "openssl not available";
        EXPECT_NE(out.find(std::string(" ") + resp + "\n"), std::string::npos) << out;
    }
}

TEST(Auth, response_depends_on_challenge_and_password) {
    char a[AUTH_RESPONSE_LENGTH + 1], b[AUTH_RESPONSE_LENGTH + 1], c[AUTH_RESPONSE_LENGTH + 1];
    Auth_Do("challengeA1", "pw", a);
    Auth_Do("challengeA2", "pw", b);
    Auth_Do("challengeA1", "pW", c);
    EXPECT_STRNE(a, b);
    EXPECT_STRNE(a, c);
}

TEST(Auth, check_accepts_only_the_exact_response) {
    char good[AUTH_RESPONSE_LENGTH + 1];
    Auth_Do("Xy12Xy12Xy1", "pw", good);
    std::string upper = good;
    for (char &ch : upper) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
    const struct {
        std::string response;
        int ok;
    } cases[] = {{good, 1},
                 {"", 0},
                 {std::string(good).substr(0, 63), 0},
                 {std::string(good) + "0", 0},
                 {upper, 0},
                 {std::string(64, 'a'), 0}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.response);
        EXPECT_EQ(Auth_Check(c.response.c_str(), "Xy12Xy12Xy1", "pw"), c.ok);
    }
}

TEST(Auth, random_strings_are_eleven_letters_or_digits_and_differ) {
    std::set<std::string> seen;
    std::set<char> symbols;
    for (int i = 0; i < 500; i++) {
        char s[AUTH_RAND_LENGTH + 1];
        Auth_RandString(s);
        ASSERT_EQ(std::string(s).size(), 11u);
        for (char ch : std::string(s)) {
            ASSERT_TRUE(isalnum(static_cast<unsigned char>(ch))) << s;
            symbols.insert(ch);
        }
        seen.insert(s);
    }
    EXPECT_EQ(seen.size(), 500u);
    EXPECT_EQ(symbols.size(), 62u); // every symbol turns up in 5500 draws
}

} // namespace

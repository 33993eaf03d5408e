// Login challenges and responses over libcrypto's random source and HMAC.
#include "auth.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <sys/random.h>

#include <cstring>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// One random byte; libcrypto's generator, or the kernel's when that fails.
unsigned char randomByte() {
    unsigned char b = 0;
    if (RAND_bytes(&b, 1) == 1) return b;
    while (getrandom(&b, 1, 0) != 1) {
    }
    return b;
}

} // namespace

extern "C" {

char *Auth_RandString(char out[AUTH_RAND_LENGTH + 1]) {
    for (int i = 0; i < AUTH_RAND_LENGTH;) {
        // 62 symbols: refuse bytes of the last partial block, so that every
        // symbol is equally likely.
        unsigned char b = randomByte();
        if (b >= 248) continue;
        out[i++] = kAlphabet[b % 62];
    }
    out[AUTH_RAND_LENGTH] = '\0';
    return out;
}

char *Auth_Do(const char *challenge, const char *password, char out[AUTH_RESPONSE_LENGTH + 1]) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    HMAC(EVP_sha256(), password, static_cast<int>(strlen(password)),
         reinterpret_cast<const unsigned char *>(challenge), strlen(challenge), md, &n);
    static const char hex[] = "0123456789abcdef";
    for (unsigned int i = 0; i < n && i < AUTH_RESPONSE_LENGTH / 2; i++) {
        out[2 * i] = hex[md[i] >> 4];
        out[2 * i + 1] = hex[md[i] & 15];
    }
    out[AUTH_RESPONSE_LENGTH] = '\0';
    return out;
}

int Auth_Check(const char *response, const char *challenge, const char *password) {
    size_t len = strnlen(response, AUTH_RESPONSE_LENGTH + 1);
    if (len != AUTH_RESPONSE_LENGTH) return 0;
    char expected[AUTH_RESPONSE_LENGTH + 1];
    Auth_Do(challenge, password, expected);
    return CRYPTO_memcmp(expected, response, AUTH_RESPONSE_LENGTH) == 0;
}

} // extern "C"

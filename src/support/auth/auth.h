/* Challenge and response of the remote-evaluation login.
 *
 * Contract:
 *  - Auth_RandString fills out with a fresh text of exactly
 *    AUTH_RAND_LENGTH letters and digits ([A-Za-z0-9], uniform) drawn
 *    from the system's random source, and returns out. It serves as a
 *    login challenge and as a made password; it never starts with '-', so
 *    it can be typed as a positional word.
 *  - Auth_Do writes into out the response to a challenge: the lowercase
 *    hex HMAC-SHA-256 of the challenge text keyed by the password (64
 *    characters and a terminating zero), and returns out.
 *  - Auth_Check compares a response with the one expected, in time that
 *    does not depend on where they differ; an empty or over-long response
 *    is refused before anything is computed. Answers 1 when it matches.
 */
#ifndef TOVIK_AUTH_H
#define TOVIK_AUTH_H

#ifdef __cplusplus
extern "C" {
#endif

enum { AUTH_RAND_LENGTH = 11, AUTH_RESPONSE_LENGTH = 64 };

char *Auth_RandString(char out[AUTH_RAND_LENGTH + 1]);
char *Auth_Do(const char *challenge, const char *password, char out[AUTH_RESPONSE_LENGTH + 1]);
int Auth_Check(const char *response, const char *challenge, const char *password);

#ifdef __cplusplus
}
#endif

#endif

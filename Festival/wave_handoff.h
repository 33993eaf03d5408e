/* The sample buffer that the Festival package hands to `wave import`.
 *
 * `tovik.wave.info` copies an utterance's wave into one buffer owned by the
 * Festival package and replies with its address, length and rate. The
 * `festival` Tcl command carries a pointer to this record as its client data,
 * so the consumer can check the address a script gives it against the buffer
 * that was really published, and copy at most `samples` samples from it,
 * instead of reading from whatever address a script names.
 *
 * The record lives as long as the process; `data` stays valid until the next
 * `tovik.wave.info` call, which frees it and publishes the new buffer.
 */
#ifndef TOVIK_WAVE_HANDOFF_H
#define TOVIK_WAVE_HANDOFF_H

#ifdef __cplusplus
extern "C" {
#endif

#define TOVIK_WAVE_HANDOFF_MAGIC 0x57564654u

typedef struct TovikWaveHandoff {
  unsigned int magic;  /* TOVIK_WAVE_HANDOFF_MAGIC */
  const short *data;   /* null until the first tovik.wave.info */
  long samples;        /* samples at data */
  int rate;            /* sample rate in Hz */
} TovikWaveHandoff;

#ifdef __cplusplus
}
#endif

#endif

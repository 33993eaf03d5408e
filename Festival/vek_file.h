// Binary files of the unit database: text token lists inside byte files,
// guarded reads with optional byte reversal, the embedded .au wave and the
// track block.
//
// Callers rely on: every read that comes up short throws VekError (after the
// "group file read failed" line on standard error); every count read from a
// file is checked against the bytes left in it before anything is sized
// from it, so a truncated or damaged file is an error, never a huge
// allocation. Numbers are written little-endian with fixed widths (int32,
// float32, uint16); offsets are int32, so a file may not reach 2 GiB.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

class EST_Wave;
class EST_Track;
class EST_Features;
class EST_Featured;
class EST_FMatrix;

// An option list: text keys and values in insertion order; setting an
// existing key replaces its value in place; an empty value is not stored.
class VekOptions {
 public:
  void set(const std::string &key, const std::string &value);
  void set_float(const std::string &key, double v);
  void set_int(const std::string &key, int v);
  bool present(const std::string &key) const;
  // The value, or "" with the note "EST_Option: No value set for KEY".
  std::string val(const std::string &key) const;
  const std::vector<std::pair<std::string, std::string>> &entries() const { return e_; }

 private:
  std::vector<std::pair<std::string, std::string>> e_;
};

bool Vek_str_to_bool(const std::string &text);

// Token lists: "StrV n s.. |% ", "KVL n k v .. |% ", "Feat n k v .. |% ".
// Each returns the bytes written or consumed.
long Vekfwrite_StrVector(const std::vector<std::string> &v, FILE *fp);
long Vekfread_StrVector(std::vector<std::string> &v, FILE *fp);
long Vekfwrite_KVL(const VekOptions &l, FILE *fp);
long Vekfread_KVL(VekOptions &l, FILE *fp);
long Vekfwrite_Features(const EST_Features &f, FILE *fp);
long Vekfread_Features(EST_Features &f, FILE *fp);
long Vekfwrite_Featured(const EST_Featured &o, FILE *fp);
long Vekfread_Featured(EST_Featured &o, FILE *fp);

// Guarded reads; line is the caller's source line for the message.
void Vek_fread_checked(void *p, size_t size, size_t items, FILE *fp, int line);
int32_t Vek_fread_int32(FILE *fp, bool swap, int line);
uint16_t Vek_fread_ushort(FILE *fp, bool swap, int line);
float Vek_fread_float(FILE *fp, bool swap, int line);
uint8_t Vek_fread_byte(FILE *fp, int line);
void Vek_fread_checked_bytes(void *p, size_t items, FILE *fp, int line);
int16_t Vek_fread_short(FILE *fp, bool swap, int line);
// A 4-byte file offset.
int32_t Vek_fread_long(FILE *fp, bool swap, int line);
double Vek_fread_double(FILE *fp, bool swap, int line);
void Vek_swap_long_array(int32_t *p, size_t n);
double Vek_swap_double(double d);
void Vek_fwrite_int32(int32_t v, FILE *fp);
void Vek_fwrite_float(float v, FILE *fp);
void Vek_fwrite_byte(uint8_t v, FILE *fp);
// Throws VekError when count items of size bytes cannot be in the rest of
// the file (or count is negative).
void Vek_check_count(FILE *fp, long count, long size, const char *what);

void Vekfread_IntVector(std::vector<int32_t> &v, long n, FILE *fp, bool swap);
void Vekfwrite_IntVector(const std::vector<int32_t> &v, FILE *fp);
void Vekfread_CharVector(std::vector<uint8_t> &v, long n, FILE *fp);
void Vekfwrite_CharVector(const std::vector<uint8_t> &v, FILE *fp);
void Vekfread_FloatVector(std::vector<float> &v, long n, FILE *fp, bool swap);
void Vekfwrite_FloatVector(const std::vector<float> &v, FILE *fp);
// Reads n floats into v[start] .. v[start+n-1] without resizing v; a range
// outside v is an error.
void Vekfread_FloatVector_part(std::vector<float> &v, FILE *fp, bool swap, long start, long n);
// Every row with all its columns.
void Vekfwrite_FloatMatrix(const EST_FMatrix &m, FILE *fp);
// Reads rows x n floats, row by row, into columns first .. first+n-1 of rows
// 0 .. rows-1; a matrix too small for them is enlarged, keeping its values.
void Vekfread_FloatMatrix(EST_FMatrix &m, FILE *fp, bool swap, long rows, long first, long n);

// The embedded Sun .au wave: 24-byte big-endian header, then 8-bit G.711
// mu-law (compressed) or 16-bit linear big-endian samples.
long Vekfwrite_Wave(const EST_Wave &w, FILE *fp, bool compressed);
long Vekfread_Wave(EST_Wave &w, FILE *fp);

// The track block: "Vek_Track " header list, features, magic 0xF149473E,
// "Vek_Track_End ", times, flags, channels plain or 16-bit quantised.
long Vekfwrite_Track(const EST_Track &t, FILE *fp, bool compressed);
long Vekfread_Track(EST_Track &t, FILE *fp);
// 1 when the magic reads byte-reversed, 0 when native; throws otherwise.
int Vek_Track_check_magic(FILE *fp);
float track_channel_min(const EST_Track &t, int c);
float track_channel_max(const EST_Track &t, int c);

constexpr uint32_t VEK_GROUP_MAGIC = 0xF149474E;
constexpr uint32_t VEK_TRACK_MAGIC = 0xF149473E;

// Label files of the synthesis modules.
//
//   MillisecondsPerFrame: 1.000000
//   END OF HEADER
//   0.0 100.0 a
//   100.0 250.0 b
//
// One segment a line after the header: begin and end (in frames of the
// header's milliseconds per frame) and the name. The writer always writes 1 ms
// frames, begins each line at the previous end and writes "NULL" for names
// that run out. The reader accepts any header that has a MillisecondsPerFrame
// line and ends with END OF HEADER; blank lines are skipped.
#pragma once

#include <string>
#include <vector>

struct VekLabel {
  double begin;  // seconds
  double end;    // seconds
  std::string name;
};

enum class VekLabelRead {
  ok,
  cannotOpen,   // no such file or unreadable
  notLabels,    // no header of this format: another kind of file
  malformed,    // header present, but a line or the header is broken
};

// Reads path into out; on failure why holds a message naming the file and
// the line.
VekLabelRead Vek_readLabels(const std::string &path, std::vector<VekLabel> &out, std::string &why);

// Writes the file from end times in seconds and names; count -99 writes all
// ends. Returns false (and why) when the file cannot be written.
bool save_Vek_labels(const std::vector<float> &ends, const std::vector<std::string> &names,
                     const std::string &filename, int count, std::string &why);

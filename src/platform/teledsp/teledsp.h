// Telephone-line signal processing shared by the virtual lines and the virtual
// voice board: touch tones (made and heard), tone templates, and call-progress
// analysis of the far end's sound.
//
// What callers rely on:
//  - All sound is 8000 Hz, 16-bit linear, mono. Detectors take any block length and
//    keep their state between calls, so a stream may be fed in pieces of any size.
//  - Touch tones follow ITU-T Q.23 (the eight frequencies, rows 697/770/852/941 Hz,
//    columns 1209/1336/1477/1633 Hz) and the receiver tolerances of Q.24: a pair
//    within 1.5 % is taken, one 3.5 % off is not, tones of 40 ms or more are taken.
//  - Tone templates give frequencies in Hz, and cadence times with their deviations
//    in 10 ms units; a band (frequency +/- deviation) outside 0..4000 Hz is refused.
//  - Call-progress analysis answers one result once: busy, no answer, no ringback
//    (silence), connect (voice), intercept (special-information tones) or fax.
// Every threshold and timing the code depends on is in the block below.
#ifndef TOVIK_PLATFORM_TELEDSP_H
#define TOVIK_PLATFORM_TELEDSP_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace teledsp {

// ---- thresholds and timings ----
constexpr int kRate = 8000;
// Touch tones heard: windows of 205 samples (25.6 ms) every 102 samples, so that a 40 ms
// tone fills two whole windows; a digit starts after two windows agree and ends after
// two windows without it.
constexpr int kDtmfWindow = 205;
constexpr int kDtmfHop = 102;
constexpr int kDtmfOnWindows = 2;
constexpr int kDtmfOffWindows = 2;
constexpr double kDtmfMinAmplitude = 400;      // per tone, about -35 dBm0
constexpr double kDtmfMinShare = 0.6;          // of the window's energy held by the pair
constexpr double kDtmfMaxTwistDb = 8;          // column tone weaker than the row tone
constexpr double kDtmfMaxReverseTwistDb = 4;   // column tone stronger than the row tone
// Touch tones made: each tone of the pair at about -7 dBm0.
constexpr int kDtmfAmplitude = 7000;
constexpr int kDtmfToneMs = 80;
constexpr int kDtmfGapMs = 80;
constexpr int kDialPauseMs = 500;              // "," in a dial string
// Tones and call progress: one frame every 10 ms, analysed over the last 1024 samples
// (7.8 Hz bins, so that 440 and 480 Hz stay apart); whether a frame has sound at all
// is decided from its own 10 ms, so cadence edges stay sharp.
constexpr int kFrame = 80;
constexpr int kSpectrumSize = 1024;
constexpr double kSoundLevel = 150;            // rms of a frame that is not silence
constexpr double kToneShare = 0.8;             // of the energy held by a template's peaks
constexpr int kToneEdgeFrames = 2;             // a change of state lasts this long to count
constexpr int kToneMinOnFrames = 4;            // a steady tone is reported after 40 ms
// Call progress: class bands in Hz.
constexpr double kBandDev = 25;                // precision of the standard tones
constexpr double kSitLow[3] = {880, 1330, 1740};
constexpr double kSitHigh[3] = {1000, 1450, 1850};
constexpr int kCpaBusyMinOn = 15, kCpaBusyMaxOn = 70;   // frames of one busy burst
constexpr int kCpaBusyBursts = 2;
constexpr int kCpaRingMinOn = 50;              // frames: a ringback burst
constexpr int kCpaFaxFrames = 30;              // of 1100 or 2100 Hz
constexpr int kCpaSitFrames = 20;              // of each of two tones
constexpr double kVoiceMaxShare = 0.5;         // a voiced frame is not a tone
constexpr int kCpaDefaultVoiceTenths = 8;      // speech that confirms a connect
constexpr int kCpaDefaultSilenceTenths = 30;   // silence alone: no ringback
constexpr int kCpaDefaultMaxRings = 4;         // ringback bursts before no answer
constexpr int kCpaMaxTenths = 300;             // nothing decided after 30 s: no answer

// ---- touch tones ----

// The Q.23 pair of a digit (0-9 * # A-D, a-d); false for any other character.
bool Dtmf_Pair(char digit, int *low, int *high);
// Appends a digit's tone pair of onMs and then offMs of silence; false for a bad digit.
bool Dtmf_Append(std::vector<int16_t> &out, char digit, int onMs = kDtmfToneMs, int offMs = kDtmfGapMs,
                 int amplitude = kDtmfAmplitude);

class DtmfDetector {
public:
    // on: true when the digit starts, false when it ends; at: index of the sample in
    // the stream where the change was decided.
    using Callback = std::function<void(char digit, bool on, long long at)>;
    DtmfDetector();
    void Feed(const int16_t *samples, size_t n, const Callback &cb);
    void Reset();

private:
    char Classify(const float *w) const;
    std::vector<float> buf_;
    size_t fill_ = 0;
    long long pos_ = 0;
    char current_ = 0, candidate_ = 0;
    int candidateCount_ = 0, missCount_ = 0;
    double coef_[8];
};

// ---- frames ----

struct Peak {
    double freq, power;
};

// One 10 ms frame: its own level and the spectrum of the last 1024 samples.
struct Frame {
    double level;      // rms of the frame's own 80 samples
    Peak peaks[3];     // strongest first; power 0 when absent
    double total;      // power of the whole spectrum (no DC)
    // Share of the total power near f (within dev Hz) held by one peak; 0 when no peak.
    double ShareAt(double f, double dev) const;
    double PeakShare(int i) const;
};

class FrameAnalyzer {
public:
    FrameAnalyzer();
    // Calls cb for every whole frame.
    void Feed(const int16_t *samples, size_t n, const std::function<void(const Frame &)> &cb);

private:
    void Analyse(Frame &f);
    std::vector<float> ring_;
    size_t ringPos_ = 0;
    int frameFill_ = 0;
    double frameEnergy_ = 0;
    std::vector<double> window_, re_, im_, cosT_, sinT_;
    std::vector<int> rev_;
};

// ---- tone templates ----

enum ToneEdge { TONE_LEADING, TONE_TRAILING };

struct ToneTemplate {
    int id = 0;
    int f1 = 0, f1dev = 0, f2 = 0, f2dev = 0;   // f2 0: a single tone
    int ontime = 0, ontimedev = 0, offtime = 0, offtimedev = 0, repcount = 0;   // 10 ms units
    bool cadence = false;
    ToneEdge edge = TONE_LEADING;
    // A template whose bands leave 0..4000 Hz, or with negative values, is refused.
    bool Valid() const;
    bool Matches(const Frame &f) const;
};

// Follows one template frame by frame and reports it on and off. A steady template
// is on after 40 ms and off when it stops; with the trailing edge both reports wait
// for the end. A cadenced template is on after repcount on/off cycles within the
// deviations and off when the cadence breaks.
class ToneTracker {
public:
    explicit ToneTracker(const ToneTemplate &t) : t_(t) {}
    // Answers +1 when the tone is reported on with this frame, -1 off, 0 nothing;
    // with the trailing edge an end may answer +2 (on and off together).
    int Step(const Frame &f);
    const ToneTemplate &Template() const { return t_; }

private:
    int EndRun(bool wasOn, int len);
    int Break();
    ToneTemplate t_;
    bool state_ = false;    // the debounced frame state
    int run_ = 0, pending_ = 0;
    bool reported_ = false;
    int cycles_ = 0;
    bool lastOnGood_ = false;
};

// ---- call progress ----

enum CpaResult {
    CPA_NONE = 0,
    CPA_BUSY,
    CPA_NO_ANSWER,
    CPA_NO_RINGBACK,
    CPA_CONNECT,
    CPA_INTERCEPT,
    CPA_FAX
};

struct CpaOptions {
    int voiceTenths = kCpaDefaultVoiceTenths;
    int silenceTenths = kCpaDefaultSilenceTenths;
    int maxRings = kCpaDefaultMaxRings;
    bool tones = true;   // fax and special-information tones are looked for
};

class CallProgress {
public:
    explicit CallProgress(const CpaOptions &o = CpaOptions()) : o_(o) {}
    // Feeds the far end's sound; answers the result once decided, else CPA_NONE.
    CpaResult Feed(const int16_t *samples, size_t n);
    CpaResult Result() const { return result_; }
    // How a connect was found: 1 by the cadence stopping, 3 by voice.
    int ConnectType() const { return connectType_; }

private:
    void Step(const Frame &f);
    CpaOptions o_;
    FrameAnalyzer an_;
    CpaResult result_ = CPA_NONE;
    int connectType_ = 0;
    int frames_ = 0, silentFrames_ = 0, voiceFrames_ = 0;
    int busyRun_ = 0, busyBursts_ = 0, ringRun_ = 0, rings_ = 0, faxRun_ = 0;
    int sitRun_[3] = {0, 0, 0};
    bool sitSeen_[3] = {false, false, false};
    int offRun_ = 0;
};

const char *Cpa_Name(CpaResult r);

}  // namespace teledsp

#endif

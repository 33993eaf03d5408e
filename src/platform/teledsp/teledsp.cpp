// Touch tones, tone templates and call progress (see teledsp.h).
#include "teledsp.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace teledsp {

namespace {

const double kRows[4] = {697, 770, 852, 941};
const double kCols[4] = {1209, 1336, 1477, 1633};
const char kKeys[4][5] = {"123A", "456B", "789C", "*0#D"};
const double kPi = 3.14159265358979323846;

}  // namespace

bool Dtmf_Pair(char digit, int *low, int *high) {
    char d = (digit >= 'a' && digit <= 'd') ? (char)(digit - 'a' + 'A') : digit;
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 4; c++)
            if (kKeys[r][c] == d) {
                if (low) *low = (int)kRows[r];
                if (high) *high = (int)kCols[c];
                return true;
            }
    return false;
}

bool Dtmf_Append(std::vector<int16_t> &out, char digit, int onMs, int offMs, int amplitude) {
    int lo, hi;
    if (!Dtmf_Pair(digit, &lo, &hi)) return false;
    long on = (long)onMs * kRate / 1000, off = (long)offMs * kRate / 1000;
    // Short ramps at both ends keep the burst from splashing into other bands.
    long ramp = std::min(on / 2, 40L);
    for (long i = 0; i < on; i++) {
        double g = 1.0;
        if (i < ramp) g = (double)i / ramp;
        else if (i >= on - ramp) g = (double)(on - 1 - i) / ramp;
        double v = amplitude * g * (std::sin(2 * kPi * lo * i / kRate) + std::sin(2 * kPi * hi * i / kRate));
        out.push_back((int16_t)std::lround(std::max(-32767.0, std::min(32767.0, v))));
    }
    out.insert(out.end(), (size_t)off, 0);
    return true;
}

DtmfDetector::DtmfDetector() : buf_(kDtmfWindow) {
    for (int i = 0; i < 4; i++) {
        coef_[i] = 2 * std::cos(2 * kPi * kRows[i] / kRate);
        coef_[4 + i] = 2 * std::cos(2 * kPi * kCols[i] / kRate);
    }
}

void DtmfDetector::Reset() {
    fill_ = 0;
    pos_ = 0;
    current_ = candidate_ = 0;
    candidateCount_ = missCount_ = 0;
}

char DtmfDetector::Classify(const float *w) const {
    double energy = 0;
    double s1[8] = {0}, s2[8] = {0};
    for (int i = 0; i < kDtmfWindow; i++) {
        double x = w[i];
        energy += x * x;
        for (int k = 0; k < 8; k++) {
            double s0 = x + coef_[k] * s1[k] - s2[k];
            s2[k] = s1[k];
            s1[k] = s0;
        }
    }
    if (energy <= 0) return 0;
    double p[8];
    for (int k = 0; k < 8; k++) p[k] = s1[k] * s1[k] + s2[k] * s2[k] - coef_[k] * s1[k] * s2[k];
    int r = (int)(std::max_element(p, p + 4) - p);
    int c = (int)(std::max_element(p + 4, p + 8) - p) - 4;
    double pr = p[r], pc = p[4 + c];
    const double n = kDtmfWindow;
    double ar = 2 * std::sqrt(pr) / n, ac = 2 * std::sqrt(pc) / n;
    if (ar < kDtmfMinAmplitude || ac < kDtmfMinAmplitude) return 0;
    if (2 * (pr + pc) / (n * energy) < kDtmfMinShare) return 0;
    double twist = 10 * std::log10(pc / pr);
    if (twist < -kDtmfMaxTwistDb || twist > kDtmfMaxReverseTwistDb) return 0;
    return kKeys[r][c];
}

void DtmfDetector::Feed(const int16_t *samples, size_t n, const Callback &cb) {
    for (size_t i = 0; i < n; i++) {
        buf_[fill_++] = samples[i];
        pos_++;
        if (fill_ < (size_t)kDtmfWindow) continue;
        char d = Classify(buf_.data());
        std::memmove(buf_.data(), buf_.data() + kDtmfHop, (kDtmfWindow - kDtmfHop) * sizeof(float));
        fill_ = kDtmfWindow - kDtmfHop;
        if (current_) {
            if (d == current_) {
                missCount_ = 0;
                continue;
            }
            if (++missCount_ < kDtmfOffWindows) continue;
            cb(current_, false, pos_);
            current_ = 0;
            missCount_ = 0;
            candidate_ = d;
            candidateCount_ = d ? 1 : 0;
            continue;
        }
        if (d && d == candidate_) candidateCount_++;
        else {
            candidate_ = d;
            candidateCount_ = d ? 1 : 0;
        }
        if (candidate_ && candidateCount_ >= kDtmfOnWindows) {
            current_ = candidate_;
            missCount_ = 0;
            cb(current_, true, pos_);
        }
    }
}

// ---- frames ----

double Frame::PeakShare(int i) const { return total > 0 ? peaks[i].power / total : 0; }

double Frame::ShareAt(double f, double dev) const {
    for (const Peak &p : peaks)
        if (p.power > 0 && std::fabs(p.freq - f) <= dev) return total > 0 ? p.power / total : 0;
    return 0;
}

FrameAnalyzer::FrameAnalyzer()
    : ring_(kSpectrumSize, 0.f), window_(kSpectrumSize), re_(kSpectrumSize), im_(kSpectrumSize),
      cosT_(kSpectrumSize / 2), sinT_(kSpectrumSize / 2), rev_(kSpectrumSize) {
    for (int i = 0; i < kSpectrumSize; i++) window_[i] = 0.5 - 0.5 * std::cos(2 * kPi * i / kSpectrumSize);
    for (int i = 0; i < kSpectrumSize / 2; i++) {
        cosT_[i] = std::cos(2 * kPi * i / kSpectrumSize);
        sinT_[i] = -std::sin(2 * kPi * i / kSpectrumSize);
    }
    int bits = 0;
    while ((1 << bits) < kSpectrumSize) bits++;
    for (int i = 0; i < kSpectrumSize; i++) {
        int r = 0;
        for (int b = 0; b < bits; b++)
            if (i & (1 << b)) r |= 1 << (bits - 1 - b);
        rev_[i] = r;
    }
}

void FrameAnalyzer::Feed(const int16_t *samples, size_t n, const std::function<void(const Frame &)> &cb) {
    for (size_t i = 0; i < n; i++) {
        double x = samples[i];
        ring_[ringPos_] = (float)x;
        ringPos_ = (ringPos_ + 1) % kSpectrumSize;
        frameEnergy_ += x * x;
        if (++frameFill_ < kFrame) continue;
        Frame f;
        f.level = std::sqrt(frameEnergy_ / kFrame);
        frameFill_ = 0;
        frameEnergy_ = 0;
        Analyse(f);
        cb(f);
    }
}

void FrameAnalyzer::Analyse(Frame &f) {
    const int n = kSpectrumSize;
    for (int i = 0; i < n; i++) {
        re_[rev_[i]] = ring_[(ringPos_ + i) % n] * window_[i];
        im_[rev_[i]] = 0;
    }
    for (int len = 2; len <= n; len <<= 1) {
        int half = len / 2, step = n / len;
        for (int s = 0; s < n; s += len)
            for (int k = 0; k < half; k++) {
                double wr = cosT_[k * step], wi = sinT_[k * step];
                int a = s + k, b = a + half;
                double tr = re_[b] * wr - im_[b] * wi, ti = re_[b] * wi + im_[b] * wr;
                re_[b] = re_[a] - tr;
                im_[b] = im_[a] - ti;
                re_[a] += tr;
                im_[a] += ti;
            }
    }
    const int bins = n / 2;
    std::vector<double> p(bins);
    double total = 0;
    for (int k = 0; k < bins; k++) {
        p[k] = re_[k] * re_[k] + im_[k] * im_[k];
        if (k >= 2) total += p[k];
    }
    f.total = total;
    for (Peak &pk : f.peaks) pk = {0, 0};
    for (int k = 3; k < bins - 3; k++) {
        if (!(p[k] > p[k - 1] && p[k] >= p[k + 1])) continue;
        double power = 0;
        for (int j = k - 2; j <= k + 2; j++) power += p[j];
        // The peak's place between bins, from the log spectrum's parabola.
        double a = std::log(p[k - 1] + 1e-12), b = std::log(p[k] + 1e-12), c = std::log(p[k + 1] + 1e-12);
        double den = a - 2 * b + c, d = den != 0 ? 0.5 * (a - c) / den : 0;
        Peak pk = {(k + d) * kRate / n, power};
        for (int i = 0; i < 3; i++)
            if (pk.power > f.peaks[i].power) {
                for (int j = 2; j > i; j--) f.peaks[j] = f.peaks[j - 1];
                f.peaks[i] = pk;
                break;
            }
    }
}

// ---- tone templates ----

bool ToneTemplate::Valid() const {
    if (f1 <= 0 || f1dev < 0 || f1 - f1dev < 0 || f1 + f1dev > kRate / 2) return false;
    if (f2 < 0 || f2dev < 0) return false;
    if (f2 > 0 && (f2 - f2dev < 0 || f2 + f2dev > kRate / 2)) return false;
    if (cadence && (ontime <= 0 || offtime <= 0 || ontimedev < 0 || offtimedev < 0 || repcount < 0)) return false;
    return true;
}

bool ToneTemplate::Matches(const Frame &f) const {
    if (f.level < kSoundLevel) return false;
    double s1 = f.ShareAt(f1, f1dev);
    if (s1 <= 0) return false;
    if (f2 <= 0) return s1 >= kToneShare;
    double s2 = f.ShareAt(f2, f2dev);
    return s2 > 0 && s1 + s2 >= kToneShare;
}

int ToneTracker::EndRun(bool wasOn, int len) {
    if (!t_.cadence) {
        if (!wasOn) return 0;
        bool was = reported_;
        reported_ = false;
        if (t_.edge == TONE_TRAILING) return len >= kToneMinOnFrames ? 2 : 0;
        return was ? -1 : 0;
    }
    if (wasOn) {
        lastOnGood_ = std::abs(len - t_.ontime) <= t_.ontimedev;
        if (!lastOnGood_) return Break();
        return 0;
    }
    if (len < t_.offtime - t_.offtimedev) return Break();
    return 0;
}

int ToneTracker::Break() {
    cycles_ = 0;
    lastOnGood_ = false;
    if (!reported_) return 0;
    reported_ = false;
    return t_.edge == TONE_TRAILING ? 2 : -1;
}

int ToneTracker::Step(const Frame &f) {
    bool m = t_.Matches(f);
    int out = 0;
    if (m == state_) {
        run_ += pending_ + 1;
        pending_ = 0;
    } else if (++pending_ >= kToneEdgeFrames) {
        out = EndRun(state_, run_);
        state_ = m;
        run_ = pending_;
        pending_ = 0;
    }
    if (out) return out;
    if (!t_.cadence) {
        if (state_ && run_ >= kToneMinOnFrames && !reported_) {
            reported_ = true;
            return t_.edge == TONE_LEADING ? 1 : 0;
        }
        return 0;
    }
    if (state_) {
        if (run_ > t_.ontime + t_.ontimedev) return Break();
        return 0;
    }
    if (lastOnGood_ && run_ >= t_.offtime - t_.offtimedev) {
        lastOnGood_ = false;
        cycles_++;
        if (cycles_ >= std::max(1, t_.repcount) && !reported_) {
            reported_ = true;
            return t_.edge == TONE_LEADING ? 1 : 0;
        }
    }
    if (run_ > t_.offtime + t_.offtimedev && (reported_ || cycles_)) return Break();
    return 0;
}

// ---- call progress ----

CpaResult CallProgress::Feed(const int16_t *samples, size_t n) {
    if (result_ != CPA_NONE) return result_;
    an_.Feed(samples, n, [this](const Frame &f) {
        if (result_ == CPA_NONE) Step(f);
    });
    return result_;
}

void CallProgress::Step(const Frame &f) {
    frames_++;
    bool sound = f.level >= kSoundLevel;
    auto dual = [&](double a, double b) {
        double s1 = f.ShareAt(a, kBandDev), s2 = f.ShareAt(b, kBandDev);
        return sound && s1 > 0 && s2 > 0 && s1 + s2 >= kToneShare;
    };
    auto single = [&](double lo, double hi) {
        return sound && f.peaks[0].freq >= lo && f.peaks[0].freq <= hi && f.PeakShare(0) >= kToneShare;
    };
    bool busy = dual(480, 620);
    bool ring = dual(440, 480);
    bool dial = dual(350, 440);
    bool fax = single(1100 - kBandDev, 1100 + kBandDev) || single(2100 - kBandDev, 2100 + kBandDev);
    int sit = -1;
    for (int i = 0; i < 3; i++)
        if (single(kSitLow[i], kSitHigh[i])) sit = i;
    bool tone = busy || ring || dial || fax || sit >= 0 || (sound && f.PeakShare(0) >= kToneShare);

    // Bursts end after two frames without them, so one odd frame does not split them.
    if (busy) {
        busyRun_++;
        offRun_ = 0;
    } else if (busyRun_ && ++offRun_ >= 2) {
        if (busyRun_ >= kCpaBusyMinOn && busyRun_ <= kCpaBusyMaxOn) busyBursts_++;
        busyRun_ = 0;
        offRun_ = 0;
    }
    if (busyBursts_ >= kCpaBusyBursts) {
        result_ = CPA_BUSY;
        return;
    }
    if (ring) ringRun_++;
    else if (ringRun_) {
        if (ringRun_ >= kCpaRingMinOn) rings_++;
        ringRun_ = 0;
        if (rings_ >= o_.maxRings) {
            result_ = CPA_NO_ANSWER;
            return;
        }
    }
    if (o_.tones) {
        faxRun_ = fax ? faxRun_ + 1 : 0;
        if (faxRun_ >= kCpaFaxFrames) {
            result_ = CPA_FAX;
            return;
        }
        for (int i = 0; i < 3; i++) {
            sitRun_[i] = sit == i ? sitRun_[i] + 1 : 0;
            if (sitRun_[i] >= kCpaSitFrames) sitSeen_[i] = true;
        }
        if (sitSeen_[0] + sitSeen_[1] + sitSeen_[2] >= 2) {
            result_ = CPA_INTERCEPT;
            return;
        }
    }
    if (sound && !tone && ++voiceFrames_ >= o_.voiceTenths * 10) {
        result_ = CPA_CONNECT;
        connectType_ = 3;
        return;
    }
    silentFrames_ = sound ? 0 : silentFrames_ + 1;
    if (silentFrames_ >= o_.silenceTenths * 10) {
        // Ringing that stopped without a voice was answered in silence.
        result_ = rings_ ? CPA_CONNECT : CPA_NO_RINGBACK;
        if (rings_) connectType_ = 1;
        return;
    }
    if (frames_ >= kCpaMaxTenths * 10) result_ = CPA_NO_ANSWER;
}

const char *Cpa_Name(CpaResult r) {
    switch (r) {
    case CPA_BUSY: return "busy";
    case CPA_NO_ANSWER: return "no_answer";
    case CPA_NO_RINGBACK: return "no_ringback";
    case CPA_CONNECT: return "connect";
    case CPA_INTERCEPT: return "intercept";
    case CPA_FAX: return "fax";
    default: return "none";
    }
}

}  // namespace teledsp

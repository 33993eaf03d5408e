// `wave import` against the real Festival package: the whole path from a
// synthesised sentence with effects and an inserted beep to a wave object
// and a WAV file that sox reads, and the refusals that keep it from reading
// any address a script names.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include <tcl.h>

#include "cmds.h"
#include "obj.h"
#include "records.h"
#include "wave_import.h"

namespace {

class WaveImport : public testing::Test {
 protected:
  static Tcl_Interp *interp;

  static void SetUpTestSuite() {
    interp = Tcl_CreateInterp();
    ASSERT_EQ(Tcl_Init(interp), TCL_OK) << Tcl_GetStringResult(interp);
    ASSERT_EQ(Obj_Init(interp), TCL_OK);
    Cmds_CreateSwitchCmd(interp, "wave", nullptr, nullptr);
    ASSERT_EQ(Tcl_Eval(interp,
                       "lappend auto_path [file join $env(TOVIK_BUILD) lib tcl]\n"
                       "package require Festival\n"
                       "festivalInit\n"
                       "festival {(voice_kal_diphone)}\n"),
              TCL_OK)
        << Tcl_GetStringResult(interp);
    Wave_AddImport(interp);
  }

  std::string eval(const std::string &script) {
    int code = Tcl_Eval(interp, script.c_str());
    std::string r = Tcl_GetStringResult(interp);
    EXPECT_EQ(code, TCL_OK) << script << "\n=> " << r;
    return r;
  }

  // Runs script, expecting an error; answers its message.
  std::string fails(const std::string &script) {
    EXPECT_EQ(Tcl_Eval(interp, script.c_str()), TCL_ERROR) << script;
    return Tcl_GetStringResult(interp);
  }

  WaveRecord *wave(const std::string &name) {
    return (WaveRecord *)Obj_GetData(interp, "wave", name.c_str());
  }
};

Tcl_Interp *WaveImport::interp = nullptr;

// Writes the samples of a wave object as a 16-bit mono WAV.
std::string writeWav(const WaveRecord *w, const std::string &path) {
  FILE *f = fopen(path.c_str(), "wb");
  int32_t rate = (int32_t)w->info[0], n = w->len * 2, riff = 36 + n, fmt = 16, br = rate * 2;
  int16_t pcm = 1, ch = 1, align = 2, bits = 16;
  fwrite("RIFF", 1, 4, f), fwrite(&riff, 4, 1, f), fwrite("WAVEfmt ", 1, 8, f), fwrite(&fmt, 4, 1, f);
  fwrite(&pcm, 2, 1, f), fwrite(&ch, 2, 1, f), fwrite(&rate, 4, 1, f), fwrite(&br, 4, 1, f);
  fwrite(&align, 2, 1, f), fwrite(&bits, 2, 1, f), fwrite("data", 1, 4, f), fwrite(&n, 4, 1, f);
  fwrite(w->samples, 2, w->len, f);
  fclose(f);
  return path;
}

TEST_F(WaveImport, sentence_with_echo_and_beep_reaches_a_wav_that_sox_reads) {
  std::string beep = testing::TempDir() + "/import_beep.wav";
  eval("exec sox -n -r 8000 -b 16 " + beep + " synth 0.25 sine 880");
  eval("festival {(begin (set! u (utt.synth (Utterance Text \"The synthesiser speaks.\"))) nil)}");
  std::string before = eval("festival {(tovik.wave.info u)}");
  eval("festival {(Vekeffect.init '((effect_order (echo)) (echo ((dtime 1600) (feedback 0.4)))))}");
  eval("festival {(begin (Vekeffect u) nil)}");
  EXPECT_EQ(eval("festival {(utt.wave.insert u \"" + beep + "\" 0.1)}"), "0.25");
  std::string info = eval("festival {(tovik.wave.info u)}");
  std::string name = eval("wave import {*}" + info);
  WaveRecord *w = wave(name);
  ASSERT_NE(w, nullptr);

  int samplesBefore = std::stoi(eval("lindex {" + before + "} 1"));
  // echo tail: (ln 0.01 / ln 0.4 + 1) * 1600 = 9641 samples; the beep adds 4000
  EXPECT_EQ(w->len, samplesBefore + 9641 + 4000);
  EXPECT_EQ(w->info[0], 16000.0f);

  // The copy holds what the utterance holds.
  std::string saved = testing::TempDir() + "/import_utt.wav";
  eval("festival {(begin (utt.save.wave u \"" + saved + "\" 'riff) nil)}");
  std::string mine = writeWav(w, testing::TempDir() + "/import_copy.wav");
  const char *raw = " -t raw -e signed -b 16 - | cksum";
  EXPECT_EQ(eval("exec sox " + saved + raw), eval("exec sox " + mine + raw));
  EXPECT_EQ(eval("exec soxi -r " + mine), "16000");
  EXPECT_EQ(eval("exec soxi -s " + mine), std::to_string(w->len));
}

TEST_F(WaveImport, a_stereo_wave_gives_its_first_channel) {
  std::string stereo = testing::TempDir() + "/import_stereo.wav";
  eval("exec sox -n -r 16000 -b 16 -c 2 " + stereo + " synth 0.05 sine 440 sine 1000");
  eval("festival {(begin (set! st (Utterance Text \"\")) (utt.import.wave st \"" + stereo + "\" nil) nil)}");
  std::string info = eval("festival {(tovik.wave.info st)}");
  EXPECT_EQ(eval("lrange {" + info + "} 1 end"), "800 16000");
  WaveRecord *w = wave(eval("wave import {*}" + info));
  ASSERT_NE(w, nullptr);
  std::string mine = writeWav(w, testing::TempDir() + "/import_left.wav");
  EXPECT_EQ(eval("exec sox " + mine + " -t raw -e signed -b 16 - | cksum"),
            eval("exec sox " + stereo + " -t raw -e signed -b 16 - remix 1 | cksum"));
}

TEST_F(WaveImport, only_the_published_buffer_can_be_read) {
  eval("festival {(begin (set! v (utt.synth (Utterance Text \"one\"))) nil)}");
  eval("set info [festival {(tovik.wave.info v)}]; lassign $info a n r");
  int n = std::stoi(eval("set n"));
  EXPECT_EQ(wave(eval("wave import $a 100 $r"))->len, 100);  // fewer samples is fine
  EXPECT_EQ(wave(eval("wave import $a 0 $r"))->len, 0);

  struct Case {
    const char *script;
    const char *message;
  } cases[] = {
      {"wave import $a $n", "wrong # args: should be \"wave import address samples rate\""},
      {"wave import $a $n $r extra", "wrong # args: should be \"wave import address samples rate\""},
      {"wave import 0x1000 $n $r", "address 0x1000 is not the wave that tovik.wave.info published last"},
      {"wave import [format 0x%llX [expr {$a + 2}]] 10 $r", "*is not the wave that tovik.wave.info published last"},
      {"wave import nonsense $n $r", "bad address \"nonsense\""},
      {"wave import $a [expr {$n + 1}] $r", "samples * out of range: the published wave has *"},
      {"wave import $a -1 $r", "samples -1 out of range: the published wave has *"},
      {"wave import $a $n 0", "rate 0 must be positive"},
      {"wave import $a ten $r", "expected integer but got \"ten\""},
  };
  for (const Case &c : cases) {
    std::string m = fails(c.script);
    EXPECT_TRUE(Tcl_StringMatch(m.c_str(), c.message)) << c.script << " => " << m;
  }
  (void)n;

  // A later tovik.wave.info frees the old buffer: its address is refused.
  eval("festival {(tovik.wave.info v)}");
  eval("set b [lindex [festival {(tovik.wave.info v)}] 0]");
  if (eval("expr {$a ne $b}") == "1") {
    std::string m = fails("wave import $a 10 $r");
    EXPECT_NE(m.find("is not the wave"), std::string::npos);
  }
  EXPECT_EQ(wave(eval("wave import $b $n $r"))->len, n);
}

TEST_F(WaveImport, import_is_offered_only_where_festival_exists) {
  Tcl_Interp *other = Tcl_CreateInterp();
  Obj_Init(other);
  Cmds_CreateSwitchCmd(other, "wave", nullptr, nullptr);
  Wave_AddImport(other);
  EXPECT_EQ(Tcl_Eval(other, "wave import 0x1 1 1"), TCL_ERROR);
  EXPECT_EQ(std::string(Tcl_GetStringResult(other)).find("address"), std::string::npos);
  // A `festival` that is not the synthesiser's publishes nothing.
  Tcl_Eval(other, "proc festival {args} {}");
  Wave_AddImport(other);
  EXPECT_EQ(Tcl_Eval(other, "wave import 0x1 1 1"), TCL_ERROR);
  EXPECT_STREQ(Tcl_GetStringResult(other), "no synthesiser wave: run festivalInit and tovik.wave.info first");
  Tcl_DeleteInterp(other);
}

// The synthesiser is not thread-safe: another thread's interpreter gets the
// package but cannot start or use it.
TEST_F(WaveImport, other_threads_are_refused) {
  std::string initMessage;
  int code = TCL_OK;
  std::thread t([&] {
    Tcl_Interp *other = Tcl_CreateInterp();
    Tcl_Init(other);
    code = Tcl_Eval(other,
                    "lappend auto_path [file join $env(TOVIK_BUILD) lib tcl]\n"
                    "package require Festival\n"
                    "festivalInit");
    initMessage = Tcl_GetStringResult(other);
    Tcl_DeleteInterp(other);
    Tcl_FinalizeThread();  // hands the thread's Tcl memory back
  });
  t.join();
  EXPECT_EQ(code, TCL_ERROR);
  EXPECT_NE(initMessage.find("another thread"), std::string::npos) << initMessage;
  EXPECT_EQ(eval("festival {(+ 1 1)}"), "2.0");
}

}  // namespace

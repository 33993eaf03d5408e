// The NLMS canceller against libspeexdsp's on the echo of speech: the same
// spoken sentence, the same made echo path, the same taps for both.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "echo_peer.h"
#include "speech_fixture.h"

namespace {

TEST(EchoSpeech, NoWorseThanSpeexLessThreeDecibels) {
    if (!fixture::haveTool("espeak-ng") || !fixture::haveTool("sox")) GTEST_SKIP() << "espeak-ng or sox missing";
    std::string dir = fixture::tempDir();
    std::vector<int16_t> far = fixture::speech(
        dir, "The rain in Spain stays mainly in the plain, said the old man to the children by the sea.", 8000);
    fixture::run("rm -rf " + dir);
    ASSERT_GT(far.size(), 16000u);
    std::vector<int16_t> near = echopeer::echoOf(far, 40);
    std::vector<int16_t> a = echopeer::nlms(far, near, 256, 80), b = echopeer::speex(far, near, 256, 80);
    ASSERT_EQ(a.size(), far.size());
    // After the first second, when both have had speech to learn from.
    size_t from = 8000, to = b.size();
    double mine = echopeer::erle(near, a, from, to), peer = echopeer::erle(near, b, from, to);
    RecordProperty("erle_nlms", std::to_string(mine));
    RecordProperty("erle_speex", std::to_string(peer));
    EXPECT_GE(mine, peer - 3.0) << "NLMS " << mine << " dB, speex " << peer << " dB";
    EXPECT_GT(mine, 15.0);
}

}  // namespace

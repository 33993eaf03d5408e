// The mixer layer on the virtual input device.
#include <cstring>

#include "audio_fixture.h"
#include "mixer.h"

namespace {

class MixerTest : public AudioFixture {
protected:
    void SetUp() override {
        AudioFixture::SetUp();
        WaveFormat f;
        WaveDev_MakeFormat(&f, WAVE_FORMAT_PCM, 1, 8000);
        ASSERT_EQ(WAVE_OK, WaveIn_Open(&in, 0, &f, win));
        ASSERT_EQ(MIX_OK, Mixer_Open(&mixer, in));
        ASSERT_EQ(MIX_OK, Mixer_GetDestination(mixer, MIX_COMPONENT_DST_WAVEIN, &dest));
    }
    void TearDown() override {
        if (mixer) Mixer_Close(mixer);
        if (in) WaveIn_Close(in);
        AudioFixture::TearDown();
    }
    MixControl Control(unsigned lineId, unsigned type) {
        MixControl c{};
        EXPECT_EQ(MIX_OK, Mixer_GetLineControlByType(mixer, lineId, type, &c));
        return c;
    }
    WaveIn *in = nullptr;
    Mixer *mixer = nullptr;
    MixLine dest{};
};

TEST_F(MixerTest, the_destination_has_its_sources_and_their_controls) {
    EXPECT_STREQ("Recording Control", dest.name);
    ASSERT_EQ(4u, dest.connections);
    const char *names[] = {"Microphone", "Line In", "CD Audio", "Phone Line"};
    const unsigned controls[] = {3, 2, 2, 0};
    for (unsigned j = 0; j < 4; j++) {
        MixLine l{};
        ASSERT_EQ(MIX_OK, Mixer_GetSource(mixer, 0, j, &l));
        EXPECT_STREQ(names[j], l.name);
        EXPECT_EQ(controls[j], l.controls) << names[j];
    }
    MixLine l{};
    EXPECT_EQ(MIX_ERR_INVALLINE, Mixer_GetSource(mixer, 0, 4, &l));
    EXPECT_EQ(MIX_ERR_INVALLINE, Mixer_GetDestination(mixer, 4, &l));
    unsigned n = 0;
    ASSERT_EQ(MIX_OK, Mixer_GetLineControls(mixer, dest.lineId, nullptr, 0, &n));
    EXPECT_EQ(2u, n);
}

TEST_F(MixerTest, a_mux_holds_exactly_one_selected_item) {
    MixControl mux = Control(dest.lineId, MIX_CTRL_MUX);
    ASSERT_EQ(3u, mux.multipleItems);
    ASSERT_TRUE(mux.flags & MIX_CTRLF_UNIFORM);
    char texts[3][MIX_LONG_NAME];
    ASSERT_EQ(MIX_OK, Mixer_GetListText(mixer, mux.controlId, 1, 3, texts));
    EXPECT_STREQ("Line In", texts[1]);
    long v[3];
    ASSERT_EQ(MIX_OK, Mixer_GetValues(mixer, mux.controlId, 1, 3, v));
    EXPECT_EQ((std::vector<long>{1, 0, 0}), std::vector<long>(v, v + 3));
    const long two[3] = {1, 1, 0}, none[3] = {0, 0, 0}, cd[3] = {0, 0, 1};
    EXPECT_EQ(MIX_ERR_INVALVALUE, Mixer_SetValues(mixer, mux.controlId, 1, 3, two));
    EXPECT_EQ(MIX_ERR_INVALVALUE, Mixer_SetValues(mixer, mux.controlId, 1, 3, none));
    ASSERT_EQ(MIX_OK, Mixer_SetValues(mixer, mux.controlId, 1, 3, cd));
    Mixer_GetValues(mixer, mux.controlId, 1, 3, v);
    EXPECT_EQ((std::vector<long>{0, 0, 1}), std::vector<long>(v, v + 3));
    EXPECT_EQ(MIX_ERR_INVALCONTROL, Mixer_GetValues(mixer, mux.controlId, 1, 2, v)) << "all items or none";
}

TEST_F(MixerTest, volumes_stay_within_bounds_and_settings_outlive_the_handle) {
    MixLine line{};
    ASSERT_EQ(MIX_OK, Mixer_GetSource(mixer, 0, 1, &line));   // Line In, two channels
    MixControl vol = Control(line.lineId, MIX_CTRL_VOLUME);
    EXPECT_EQ(0, vol.minimum);
    EXPECT_EQ(65535, vol.maximum);
    const long bad[2] = {70000, 0}, good[2] = {100, 200};
    EXPECT_EQ(MIX_ERR_INVALVALUE, Mixer_SetValues(mixer, vol.controlId, 2, 1, bad));
    ASSERT_EQ(MIX_OK, Mixer_SetValues(mixer, vol.controlId, 2, 1, good));
    const long one[1] = {300};
    ASSERT_EQ(MIX_OK, Mixer_SetValues(mixer, vol.controlId, 1, 1, one)) << "one value sets every channel";
    Mixer_Close(mixer);
    WaveIn_Close(in);
    in = nullptr;
    mixer = nullptr;
    WaveFormat f;
    WaveDev_MakeFormat(&f, WAVE_FORMAT_PCM, 1, 8000);
    ASSERT_EQ(WAVE_OK, WaveIn_Open(&in, 0, &f, win));
    ASSERT_EQ(MIX_OK, Mixer_Open(&mixer, in));
    long v[2];
    ASSERT_EQ(MIX_OK, Mixer_GetValues(mixer, vol.controlId, 2, 1, v));
    EXPECT_EQ(300, v[0]);
    EXPECT_EQ(300, v[1]);
}

TEST_F(MixerTest, switches_hold_zero_or_one) {
    MixLine mic{};
    ASSERT_EQ(MIX_OK, Mixer_GetSource(mixer, 0, 0, &mic));
    MixControl mute = Control(mic.lineId, MIX_CTRL_MUTE);
    const long seven[1] = {7};
    ASSERT_EQ(MIX_OK, Mixer_SetValues(mixer, mute.controlId, 1, 1, seven));
    long v[1];
    Mixer_GetValues(mixer, mute.controlId, 1, 1, v);
    EXPECT_EQ(1, v[0]);
    MixControl none{};
    EXPECT_EQ(MIX_ERR_INVALCONTROL, Mixer_GetLineControlByType(mixer, mic.lineId, MIX_CTRL_MUX, &none));
}

TEST_F(MixerTest, devices_without_a_mixer_and_stale_handles_are_refused) {
    WaveFormat f;
    WaveDev_MakeFormat(&f, WAVE_FORMAT_PCM, 1, 8000);
    WaveIn *other = nullptr;
    ASSERT_EQ(WAVE_OK, WaveIn_Open(&other, 1, &f, win));
    Mixer *m = nullptr;
    EXPECT_EQ(MIX_ERR_NODRIVER, Mixer_Open(&m, other));
    WaveIn_Close(other);
    EXPECT_EQ(MIX_ERR_INVALHANDLE, Mixer_Open(&m, other));
    Mixer *stale = mixer;
    Mixer_Close(mixer);
    mixer = nullptr;
    MixLine l{};
    EXPECT_EQ(MIX_ERR_INVALHANDLE, Mixer_GetDestination(stale, MIX_COMPONENT_DST_WAVEIN, &l));
    char text[128];
    Mixer_ErrorText(MIX_ERR_NODRIVER, text, sizeof text);
    EXPECT_STREQ("the device has no mixer", text);
}

}  // namespace

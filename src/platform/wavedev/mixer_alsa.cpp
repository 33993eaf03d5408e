// ALSA mixers as line-model mixers.
#include "pcm_backend.h"

int AlsaMixer_Open(const std::string &pcmName, std::unique_ptr<MixerBackend> *out) {
    return MIX_ERR_NODRIVER;
}

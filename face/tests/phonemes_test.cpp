// The phoneme list: rewriting on add and the prepared arrays.
#include <gtest/gtest.h>

#include "engine.h"
#include "tables.h"

using brovana::BrovanaEngine;

namespace {

struct Added {
    const char *symbol;
    float ms;
    const char *word;
    bool spanish;
};

std::string Listing(BrovanaEngine &e) {
    e.buildPhonemeArrays();
    std::string out;
    for (size_t i = 0; i < e.names().size(); i++) {
        char buf[64];
        snprintf(buf, sizeof buf, "%s%s %g", i ? "," : "", e.names()[i].c_str(), e.durations()[i]);
        out += buf;
    }
    return out;
}

}  // namespace

TEST(PhonemeList, rewriting_on_add) {
    struct Case {
        std::vector<Added> in;
        const char *expected;  // after preparation's end entries, with a word on the first
        const char *why;
    } cases[] = {
        {{{"x", 100, "w", false}, {"d_r", 100, "", false}, {"x", 100, "", false}}, "x 100,t 100,x 100", "d_ anywhere is t"},
        {{{"x", 100, "w", false}, {"d_r", 100, "", true}, {"x", 100, "", false}}, "x 100,t 100,x 100", "d_ also with the Spanish flag"},
        {{{"x", 100, "w", false}, {"r\\(", 80, "", true}, {"x", 100, "", false}},
         "x 93,9r 42,4r 35,9r 42,x 68", "Spanish trill cut in 35 ms pieces, short ones lengthened"},
        {{{"x", 100, "w", false}, {"9r4r", 70, "", false}, {"x", 100, "", false}}, "x 93,9r 42,4r 42,x 93", "trill of 70 ms"},
        {{{"x", 100, "w", false}, {"tc", 40, "", false}, {"th", 30, "", false}, {"x", 100, "", false}},
         "x 100,t 70,x 100", "closure and release merge"},
        {{{"x", 100, "w", false}, {"t", 50, "", false}, {"tc", 40, "", false}, {"x", 100, "", false}},
         "x 100,t 90,x 100", "a closure merges into the same phoneme before it"},
        {{{"x", 100, "w", false}, {"ch", 50, "", false}, {"h", 50, "", false}, {"x", 100, "", false}},
         "x 100,c 50,h 50,x 100", "last c or h dropped; a one-letter h stays"},
    };
    for (const Case &c : cases) {
        BrovanaEngine e;
        for (const Added &a : c.in) e.addPhoneme(a.symbol, a.ms, a.word, a.spanish);
        EXPECT_EQ(Listing(e), c.expected) << c.why;
    }
}

TEST(PhonemeList, minimum_durations_and_end_entries) {
    struct Case {
        std::vector<float> ms;
        bool word;
        const char *expected;
    } cases[] = {
        {{100, 20, 100, 100}, true, "a 89,a 42,a 89,a 100"},
        {{50, 20, 100, 100}, true, "a 50,a 42,a 78,a 100"},
        {{60, 20, 60, 100}, true, "a 49,a 42,a 49,a 100"},
        {{50, 20, 50, 100}, true, "a 50,a 20,a 50,a 100"},
        {{50}, false, "a 1,a 98,a 1"},                // end entries, then the 100 ms rule
        {{30, 30}, false, "a 1,a 30,a 30,a 1"},       // no word: end entries
        {{60, 60, 60}, true, "a 60,a 60,a 60"},       // 180 ms: kept as they are
    };
    for (const Case &c : cases) {
        BrovanaEngine e;
        for (size_t i = 0; i < c.ms.size(); i++) e.addPhoneme("a", c.ms[i], c.word && i == 0 ? "w" : "", false);
        EXPECT_EQ(Listing(e), c.expected);
    }
}

TEST(PhonemeList, words_span_their_phonemes_and_leading_phonemes_join_the_first) {
    BrovanaEngine e;
    const Added in[] = {{".pau", 100, "", false}, {"h", 100, "hello", false}, {"E", 100, "", false},
                        {"w", 100, "world", false}, {"3r", 100, "", false}, {".pau", 100, "", false}};
    for (const Added &a : in) e.addPhoneme(a.symbol, a.ms, a.word, false);
    e.buildPhonemeArrays();
    ASSERT_EQ(e.wordCount(), 2);
    EXPECT_EQ(e.wordStart(), (std::vector<int>{0, 3}));
    EXPECT_EQ(e.wordEnd(), (std::vector<int>{2, 5}));
    EXPECT_EQ(e.pendingPhonemes(), 0);
}

// Preparing nothing gives nothing, instead of end entries named after
// phonemes that do not exist.
TEST(PhonemeList, empty_list_prepares_zero_frames) {
    BrovanaEngine e;
    e.prep();
    EXPECT_EQ(e.phonemeCount(), 0);
    EXPECT_EQ(e.frameCount(), 0);
    EXPECT_EQ(e.duration(), 0.0f);
    e.reset();
    e.reset();
    EXPECT_EQ(e.duration(), 0.0f);
}

TEST(PhonemeTables, rows_and_lookups) {
    EXPECT_EQ(BrovanaEngine::phonemeRow(".pau"), 0);
    EXPECT_EQ(BrovanaEngine::phonemeRow("m"), 28);
    EXPECT_EQ(BrovanaEngine::phonemeRow("4r"), 53);
    EXPECT_EQ(BrovanaEngine::phonemeRow("not-a-phoneme"), 0);
    EXPECT_STREQ(BrovanaEngine::arpabetToWorldbet("AY"), "aI");
    EXPECT_STREQ(BrovanaEngine::arpabetToWorldbet("Z "), "z");
    EXPECT_EQ(BrovanaEngine::arpabetToWorldbet("Z"), nullptr);
    EXPECT_STREQ(BrovanaEngine::phonemeSymbol(44), ">i");
    EXPECT_EQ(BrovanaEngine::phonemeSymbol(54), nullptr);
    EXPECT_STREQ(BrovanaEngine::safeNameAt(44), "rightarrowi");
    EXPECT_STREQ(BrovanaEngine::safeNameAt(14), " ");
    // every file-safe row follows the phoneme table's symbols
    for (int i = 0; i < 51; i++) EXPECT_STREQ(brovana::SafeNamePairs[i].from, BrovanaEngine::phonemeSymbol(i)) << i;
}

TEST(EngineRecord, defaults_and_setters) {
    BrovanaEngine e;
    EXPECT_EQ(e.frameRate(), 30);
    EXPECT_EQ(e.duration(), 0.0f);
    EXPECT_EQ(e.autoBlinkTag(), "2000,B");
    EXPECT_EQ(e.autoBlinkCount(), 2000);
    e.setEyeblink(-3);
    EXPECT_TRUE(e.eyeblinkSwitch());
    e.setViewport(5, 7, 640, 480);
    EXPECT_EQ(e.viewportWidth(), 640);
    EXPECT_EQ(e.viewportHeight(), 480);
    EXPECT_TRUE(e.headRotateOff());
    int keys[] = {3, 5, 7};
    EXPECT_TRUE(BrovanaEngine::containsKey(5, 3, keys));
    EXPECT_FALSE(BrovanaEngine::containsKey(7, 2, keys));
}

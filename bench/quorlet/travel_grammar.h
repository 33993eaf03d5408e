// The travel grammar that the benchmark and the parse dump both run on.
#ifndef QUORLET_BENCH_TRAVEL_GRAMMAR_H
#define QUORLET_BENCH_TRAVEL_GRAMMAR_H

#include <fstream>
#include <string>
#include <vector>

// Pronounceable made-up words, distinct by construction.
inline std::string Word(int i) {
  static const char *syl[] = {"ka", "lo", "mi", "ru", "te", "sa", "no", "vi", "do", "pe"};
  std::string w;
  do {
    w += syl[i % 10];
    i /= 10;
  } while (i);
  return w + "x";
}

inline void Put(const std::string &dir, const std::string &name, const std::string &text) {
  std::ofstream(dir + name + ".gra") << text;
}

// Writes the six nets of the travel grammar into dir, with `ncities` cities
// and `nairlines` airlines, whose words it appends to the two lists.
inline void WriteTravelGrammar(const std::string &dir, std::vector<std::string> &cities,
                               std::vector<std::string> &airlines, int ncities, int nairlines) {
  Put(dir, "travel",
      "[travel]\n(*GREET *WANT [trip_fs] *[when_fs] *[airline_fs] *PLEASE)\n"
      "GREET (hello) (hi there) (good morning)\n"
      "WANT (i want to fly) (i would like to go) (book me a flight) (show me flights)\n"
      "PLEASE (please) (thanks) (thank you)\n");
  Put(dir, "trip_fs", "[trip_fs]\n(*FROM [city_fs] TO [city_fs]) (TO [city_fs])\n"
                      "FROM (from) (leaving from)\nTO (to) (going to) (arriving in)\n");
  std::string c = "[city_fs]\n(CITY)\nCITY";
  for (int i = 0; i < ncities; i++) {
    cities.push_back(i % 8 == 0 ? "new " + Word(i) : Word(i));
    c += " (" + cities.back() + ")";
  }
  Put(dir, "city_fs", c + "\n");
  Put(dir, "when_fs", "[when_fs]\n(*ON [day_fs] *TIME)\nON (on) (next)\n"
                      "TIME (morning) (afternoon) (evening) (at night)\n");
  Put(dir, "day_fs", "[day_fs]\n(monday) (tuesday) (wednesday) (thursday) (friday) "
                     "(saturday) (sunday) (tomorrow) (today)\n");
  std::string a = "[airline_fs]\n(with AIRLINE)\nAIRLINE";
  for (int i = 0; i < nairlines; i++) {
    airlines.push_back(Word(1000 + i) + " air");
    a += " (" + airlines.back() + ")";
  }
  Put(dir, "airline_fs", a + "\n");
}

#endif

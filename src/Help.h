#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Help lines for one topic word ("samples", "pitch", "parts", "packs", "bpm", "io",
// "record", "about"; compared exactly), or the index of topics for any other text.
// Keeps no state; any thread may call it.
std::vector<std::string> help(const std::string& topic);

// The tutorial's page counter: pages 0 to 10, then a closing page, then page 0 again.
// Not guarded: only the interface thread may use it.
class Tutorial {
  public:
    // Main thread only. Makes page 0 the next one shown.
    void reset();

    // Main thread only. The lines of the page that is due, and moves on to the next page.
    std::vector<std::string> next();

  private:
    // The page the next call of next() shows; 11 means the closing page.
    std::int32_t page = 0;
};

// goramina_make_sounds DIR: writes Oto1.wav (stone placed) and Oto2.wav (registered play
// ended) into DIR. Run by the build so the sounds lie next to the program.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/stone_sounds.h"
#include "tools/wave_file.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  const struct {
    const char* name;
    std::vector<std::int16_t> samples;
  } sounds[] = {{"Oto1.wav", goramina::tools::MakeStoneClick()},
                {"Oto2.wav", goramina::tools::MakeEndChime()}};
  for (const auto& sound : sounds) {
    const std::string path = dir + sound.name;
    if (!goramina::tools::WriteWave(path, sound.samples)) {
      std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), std::strerror(errno));
      return 1;
    }
  }
  return 0;
}

// A small C++ application with what product firmware brings into a link:
// a static constructor, virtual functions, an exception thrown and caught
// (the unwinder and its tables), malloc and new, snprintf of a float
// (newlib-nano's float printf), a 64-bit integer and a double in .data, and
// a function that runs from RAM, reached from the flash through a linker
// stub.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>


extern "C" void startFirmware(void);

volatile std::uint64_t uptimeTicks = 0x100000001ull;
volatile double gain = 1.25;
char statusText[32] = "starting";
std::uint16_t holdingRegisters[8];

namespace {

struct Sensor {
  virtual ~Sensor() = default;
  virtual int read() = 0;
};

struct Thermometer : Sensor {
  int tenths = 215;
  int read() override { return tenths++; }
};

// Built by a static constructor, before __entryPoint__ returns.
struct Boot {
  Boot() { holdingRegisters[0] = 0x5A; }
};
Boot boot;

Sensor* sensor = nullptr;

int checked(int value) {
  if (value < 0) {
    throw value;
  }
  return value;
}

}  // namespace

// Runs from RAM: the flash may be busy being written while it toggles.
extern "C" __attribute__((section(".RamFunc"), noinline)) void toggleInRam(void) {
  holdingRegisters[2] ^= 1u;
}

extern "C" void __entryPoint__(void) {
  startFirmware();
  sensor = new Thermometer;
  void* scratch = std::malloc(64);
  std::memset(scratch, 0, 64);
  std::free(scratch);
  try {
    checked(-1);
  } catch (int error) {
    holdingRegisters[1] = static_cast<std::uint16_t>(-error);
  }
}

extern "C" void loop(void) {
  uptimeTicks = uptimeTicks + 1;
  const float celsius = static_cast<float>(sensor->read()) / 10.0f * static_cast<float>(gain);
  std::snprintf(statusText, sizeof statusText, "%.1f C", static_cast<double>(celsius));
  toggleInRam();
  holdingRegisters[3] = static_cast<std::uint16_t>(uptimeTicks);
}

int main(void) {
  __entryPoint__();
  for (;;) {
    loop();
  }
}

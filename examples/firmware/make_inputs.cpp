// Writes the two inputs of the example firmware that its link does not make
// into a folder: the header template and a resources blob.
#include <cstdint>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

void putWord(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::cerr << "make_inputs: can't write " << path << "\n";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_inputs FOLDER\n";
    return 2;
  }
  const std::string folder = std::string(argv[1]) + "/";

  // Header template: the Modbus table bounds (4096 bytes), zeros where
  // pakforge fills in addresses, and recognisable values in the words it
  // carries unchanged.
  std::vector<std::uint8_t> config(72, 0);
  putWord(config, 20, 0x00010002);
  putWord(config, 24, 0x0000C350);
  putWord(config, 36, 0xA5A5A5A5);
  putWord(config, 40, 0x00001000);  // modbusTableEnd
  putWord(config, 48, 0x00000001);
  putWord(config, 52, 0x00000011);
  putWord(config, 56, 0x00000000);
  putWord(config, 60, 0x00000000);  // modbusTableStart
  putWord(config, 64, 0x12345678);
  putWord(config, 68, 0xCAFEF00D);

  std::vector<std::uint8_t> resources(16384);
  for (std::size_t i = 0; i < resources.size(); ++i) {
    resources[i] = static_cast<std::uint8_t>((i * 13 + 5) & 0xFF);
  }

  const bool ok = writeFile(folder + "output_CFG.bin", config) &&
                  writeFile(folder + "output_RES.bin", resources);
  return ok ? 0 : 1;
}

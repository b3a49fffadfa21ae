// The device side's reading of an image, pakforge/aelf.h: a table of
// damaged copies of a real image, one row per fault it tells.
#include "pakforge/aelf.h"

#include <gtest/gtest.h>

#include <functional>

#include "example_build.h"

namespace {

using pakforge::testing_support::Bytes;
using pakforge::testing_support::putWord;
using pakforge::testing_support::readFile;

// The example firmware's real image: its code from the recipe link, at
// 0x08020000, and five bytes of resources.
Bytes realImage() {
  const auto recipe = std::filesystem::path(PAKFORGE_FIRMWARE_DIR) / "recipe";
  const Bytes code = readFile(recipe / "output.bin");
  const Bytes resources = {1, 2, 3, 4, 5};
  // Sized first and filled in place (GCC 12 misjudges inserts into a
  // vector this small).
  Bytes image(76 + code.size() + resources.size(), 0);
  const std::string_view magic = "AELF";
  std::copy(magic.begin(), magic.end(), image.begin());
  putWord(image, 4 + 0, 0x08020000);
  putWord(image, 4 + 4, 0x08020044);
  putWord(image, 4 + 28, 0x08020000);
  putWord(image, 4 + 32, static_cast<std::uint32_t>(code.size()));
  putWord(image, 4 + 44, static_cast<std::uint32_t>(resources.size()));
  std::copy(code.begin(), code.end(), image.begin() + 76);
  std::copy(resources.begin(), resources.end(), image.end() - 5);
  return image;
}

TEST(AelfHeader, EachFaultHasItsStatus) {
  const Bytes good = realImage();
  const auto field = [](std::size_t offset, std::uint32_t value) {
    return [offset, value](Bytes& b) { putWord(b, 4 + offset, value); };
  };
  struct Row {
    std::string what;
    std::function<void(Bytes&)> damage;
    aelf_status status;
  };
  const std::vector<Row> rows = {
      {"as written", [](Bytes&) {}, AELF_OK},
      {"a Thumb bit on the entry point", field(0, 0x08020001), AELF_OK},
      {"another magic", [](Bytes& b) { b[3] = 'G'; }, AELF_BAD_MAGIC},
      {"three bytes of another file",
       [](Bytes& b) {
         b = {'E', 'L', 'F'};
       },
       AELF_BAD_MAGIC},
      {"the magic alone", [](Bytes& b) { b.resize(4); }, AELF_TOO_SHORT},
      {"cut inside the header", [](Bytes& b) { b.resize(75); }, AELF_TOO_SHORT},
      {"empty", [](Bytes& b) { b.clear(); }, AELF_TOO_SHORT},
      {"a byte more", [](Bytes& b) { b.push_back(0); }, AELF_BAD_LENGTH},
      {"a byte less", [](Bytes& b) { b.pop_back(); }, AELF_BAD_LENGTH},
      {"sizes whose sum wraps to the length",
       [&](Bytes& b) {
         putWord(b, 4 + 32, 0xFFFFFFFFu);
         putWord(b, 4 + 44, static_cast<std::uint32_t>(b.size() - 76 + 1));
       },
       AELF_BAD_LENGTH},
      {"code below the flash", field(28, 0x07FFFF00), AELF_CODE_OUTSIDE_FLASH},
      {"code past the application's flash", field(28, 0x0803FE00 - 0x100), AELF_CODE_OUTSIDE_FLASH},
      {"code range wrapping around", field(28, 0xFFFFFF00), AELF_CODE_OUTSIDE_FLASH},
      {"entry point past the code", field(0, 0x08020000 + 268), AELF_ENTRY_OUTSIDE_CODE},
      {"entry point before the code", field(0, 0x0801FFFE), AELF_ENTRY_OUTSIDE_CODE},
      {"loop past the code", field(4, 0x08030000), AELF_LOOP_OUTSIDE_CODE},
  };
  std::vector<int> seen(7, 0);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Bytes image = good;
    row.damage(image);
    // Exactly `length` bytes: a read past them is an error under ASan.
    const std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[image.size() + 1]);
    std::copy(image.begin(), image.end(), bytes.get());
    aelf_image checked{};
    const aelf_status status = aelf_check(bytes.get(), image.size(), &checked);
    EXPECT_EQ(status, row.status) << aelf_status_text(status);
    EXPECT_STRNE(aelf_status_text(status), "an unknown status");
    seen[status] = 1;
    if (status == AELF_OK) {
      EXPECT_EQ(checked.code, bytes.get() + 76);
      EXPECT_EQ(checked.resources, checked.code + checked.app_size);
      EXPECT_EQ(checked.addr_exe, 0x08020000u);
      EXPECT_EQ(checked.resources_size, 5u);
    }
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 7) << "a status without a row";
}

}  // namespace

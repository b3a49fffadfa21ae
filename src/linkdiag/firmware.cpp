// What the firmware itself needs of the link, beyond an exact image: its
// vector table at the code start, where the vector table register points,
// and an initial stack pointer inside the device's RAM. (.data and .bss
// outside RAM are the ELF check's, which refuses them.)
#include "contract/firmware_contract.h"
#include "format/hex_text.h"
#include "format/image_header.h"
#include "linkdiag/detectors.h"

namespace pakforge::detect {

void firmwareFindings(LinkDiagnosis& d, ElfReader& reader) {
  contract::LinkFacts link;
  contract::VectorTable table;
  if (!d.haveRange || !contract::readLinkFacts(reader, link) ||
      !contract::findVectorTable(link, table)) {
    return;
  }
  const std::string name = table.name.empty() ? table.section : table.name;
  // One before the range is PF106's: moving it into .text puts it first.
  if (table.address > d.rangeStart && table.address < d.rangeEnd) {
    LinkFinding& f =
        add(d, Rule::vectorTableNotAtStart,
            "the vector table " + name + " stands at " + hexText(table.address) +
                ", not at the code start " + hexText(d.rangeStart),
            fixText(Rule::vectorTableNotAtStart, {table.section, hexText(d.rangeStart)}));
    f.section = table.section;
  }
  const bool stackTop = link.haveWords && inSramWindow(link.words[0]);
  // The words at the start of the flash are the table's when it stands
  // there; elsewhere PF111 or PF106 says so first.
  if (table.address == link.flashStart && stackTop && link.words[0] > RAM_LIMIT) {
    add(d, Rule::stackTopOutsideRam,
        "the initial stack pointer, the first word of the vector table " + name + ", is " +
            hexText(link.words[0]) + ", past the device's RAM (" + hexText(RAM_BASE) + "-" +
            hexText(RAM_LIMIT) + ")",
        fixText(Rule::stackTopOutsideRam, {hexText(RAM_BASE) + "-" + hexText(RAM_LIMIT)}));
  }
}

}  // namespace pakforge::detect

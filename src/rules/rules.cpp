#include "rules/rules.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace pakforge {
namespace {

// The recipe's end of the code range, which several fixes write.
#define END_LINES "(. = _sidata + _data_image_size; _flash_end = .;)"
#define LINK_AGAIN "link again, so that the map and the ELF file are from the same link"

constexpr std::array kRules = {
    RuleInfo{Rule::noTextLine,
             "PF101",
             "code range",
             "name the output section of the code .text",
             R"EX(No line of the map holds ".text".

pakforge's map rules start the code range at the first line of the map that
holds ".text", and take the code start from the seven characters after that
line's first '8'. A script that names its code section otherwise (.code,
.flash, .app) gives no start at all, and pakforge stops with "addrExe not
found".

Fix: name the output section that holds the code .text.

    before:  .code : ALIGN(0x20000) { KEEP(*(.isr_vector)) *(.text*) ... } > FLASH
    after:   .text : ALIGN(0x20000) { KEEP(*(.isr_vector)) *(.text*) ... } > FLASH

LLD's map has the same line for the output section: the fix is the same.

aelfdump --link reads the rest of such a link as the rename will make it
(the RAM data's section too, where it is not named .data), so that the
problems behind the rename are listed with it.)EX",
             FixKind::safe,
             {Explains::codeStart, 4, About::mapLine}},
    RuleInfo{Rule::dataBeforeText,
             "PF102",
             "code range",
             "place the .text output section before everything that names .data",
             R"EX(A line that holds ".data" stands before any line that holds ".text".

The map rules look for the code start until the first line holding ".data";
they stop there and the code range has no start. A .data section (or an
assignment naming it) placed before .text in the script does that.

Fix: place .text first, before every section, assignment or pattern that
names .data.

    before:  .data : { *(.data*) } > RAM AT> FLASH
             .text : { *(.text*) } > FLASH
    after:   .text : { *(.text*) } > FLASH
             .data : { *(.data*) } > RAM AT> FLASH

The same under LLD.)EX",
             FixKind::byHand,
             {Explains::codeStart, 1, About::mapLine}},
    RuleInfo{Rule::longCodeSectionName,
             "PF103",
             "code range",
             "name the code's output section .text (a name shorter than 16 characters keeps the "
             "address on its line)",
             R"EX(The first line holding ".text" is an output section's line without an
address.

GNU ld writes an output section's address on the same line as its name only
when the name is shorter than 16 characters; a longer one (.text_application)
puts the address on the next line, and the map rules read the code start
from the name's line, which holds no address.

Fix: name the output section .text.

    before:  .text_application_code : ALIGN(0x20000) { ... } > FLASH
    after:   .text : ALIGN(0x20000) { ... } > FLASH

LLD writes every address on the section's own line; its maps do not show
this.)EX",
             FixKind::safe,
             {Explains::codeStart, 2, About::mapLine}},
    RuleInfo{Rule::codeStartInOtherSection,
             "PF104",
             "code range",
             "move what {0} holds into .text, at its start, and drop that output section: the "
             ".text output section's own line must be the first to hold .text",
             R"EX(The first line holding ".text" lies in another output section.

An input section or a symbol whose name holds ".text" (.text.Reset_Handler in
a section of its own, .text.startup) inside an earlier output section is the
first line the map rules see: the code range would start there, and the
line holds no address the rules can read.

Fix: move what that output section holds into .text, at its start, and drop
the section.

    before:  .startup : ALIGN(0x20000) { KEEP(*(.isr_vector)) *(.text.Reset_Handler) } > FLASH
             .text :
             {
               *(.text*)
             } > FLASH
    after:   .text : ALIGN(0x20000)
             {
               KEEP(*(.isr_vector))
               *(.text.Reset_Handler)
               *(.text*)
             } > FLASH

--fix moves only a flash section: one that runs from RAM (an ITCM's code)
would run from the flash inside .text, and is left to you. The same under
LLD.)EX",
             FixKind::movesLayout,
             {Explains::codeStart, 3, About::mapLine}},
    RuleInfo{Rule::codeStartWithoutAddress,
             "PF105",
             "code range",
             "make the .text output section's own line the first line of the map that holds .text",
             R"EX(The first line holding ".text" holds no address.

The map rules take the code start from the seven characters after the first
'8' of the first line holding ".text"; a line that holds none (a comment, a
pattern line such as " *(.text.init)" before the section's own line) gives
no code start.

Fix: make the .text output section's own line the first line of the map
that holds ".text": nothing naming .text before it.

The same under LLD.)EX",
             FixKind::safe,
             {Explains::codeStart, 5, About::mapLine}},
    RuleInfo{Rule::flashBeforeRange,
             "PF106",
             "code range",
             "move {0} into .text, at its start{1}",
             R"EX(Flash content lies before the code range.

The code range starts at the first line holding ".text", and the image holds
the code range alone: what the script places in the flash before .text (a
vector table in .isr_vector, .rodata, a configuration block) would be left
out, and the device would run without it. pakforge refuses such a link.

Fix: move those sections into .text, at its start, in the order they have
now, and drop their output sections. Quote what the script has: the
patterns the map shows under each section (KEEP for what nothing refers to,
such as a vector table).

    before:  .isr_vector : ALIGN(0x20000) { KEEP(*(.isr_vector)) } > FLASH
             .rodata : { *(.rodata*) } > FLASH
             .text :
             {
               *(.text*)
             } > FLASH
    after:   .text : ALIGN(0x20000)
             {
               KEEP(*(.isr_vector))
               *(.rodata*)
               *(.text*)
             } > FLASH

A vector table stays first, where the vector table register points. Room
that a FILL keeps for a boot loader's slot header, with no input section in
it, is not moved: it is emptied where it stands (. = .;), as the device's
loader reads the image's own header; in .text it would stand before the
vector table. LLD's map names input sections rather than patterns: the fix
is the same; GNU ld does not load such room at all.)EX",
             FixKind::movesLayout,
             {Explains::rangeStart, 7}},
    RuleInfo{Rule::initialValuesBeforeRange,
             "PF107",
             "code range",
             "load the initial values of {0} after the code, as the last thing in the code's "
             "flash region (AT> that region, or AT(_sidata) after the end lines of PF204), not "
             "into .text",
             R"EX(The initial values of a RAM section are loaded into the flash before the
code range.

A script that loads .data's initial values (AT> or AT()) into a small flash
region placed before the region of .text puts them before the code range,
where the image leaves them out. Moving .data into .text would put writable
data into read-only code: the right place for the initial values is after
the code, in its region.

Fix: load .data after the code, in the code's region, and end the code range
after the values.

    before:  .data : { ... } > RAM AT> CONFIG
    after:   _data_image_start = .;
             . = _data_image_start + _data_image_size;
             _flash_end = .;
             .data : AT(_data_image_start) { ... } > RAM
             _data_image_size = SIZEOF(.data);

(AT> FLASH, the code's region, does the same; the end line must then follow
.data's load address. Where .data has a load symbol of its own, AT(_sidata),
the lines use it.) The same under LLD.)EX",
             FixKind::movesLayout,
             {Explains::rangeStart, 8}},
    RuleInfo{Rule::rangeStartsEarly,
             "PF108",
             "code range",
             LINK_AGAIN,
             R"EX(The code range starts before the flash content the ELF file loads.

The image would carry whatever the ELF file holds before its code (its own
headers, zeros) below the application, where the device's loader lives. A
map from another link, or one edited by hand, gives such a start.

Fix: link again, so that the map and the ELF file are from the same link,
and give pakforge both.

The same under LLD.)EX",
             FixKind::safe,
             {Explains::rangeStart, 9}},
    RuleInfo{Rule::noFlashContent,
             "PF109",
             "code range",
             "place the code in the application's flash, from {0}: .text in a MEMORY region "
             "there (.text : { ... } > FLASH, FLASH being that region)",
             R"EX(The ELF file loads nothing into the flash.

The device's application flash is 0x08000000 up to 0x0803FE00; an ELF file
that loads its code elsewhere (RAM, another part's flash) has nothing for an
image.

Fix: place .text, and what it holds, in the flash region.

    before:  .text : { *(.text*) } > RAM
    after:   .text : { *(.text*) } > FLASH

The same under LLD.)EX",
             FixKind::byHand,
             {Explains::rangeStart, 10}},
    RuleInfo{Rule::rangeStartsLate,
             "PF110",
             "code range",
             LINK_AGAIN,
             R"EX(The code range starts inside the section that holds the code.

The map's first line holding .text gives an address after the start of the
output section the ELF file loads there: the map is from another link, with
less before the code, or was edited. Moving the section into itself would
change nothing; the image would lack the section's first bytes.

Fix: link again, so that the map and the ELF file are from the same link,
and give pakforge both.

The same under LLD.)EX",
             FixKind::safe,
             {Explains::rangeStart, 6, About::mapLine}},
    RuleInfo{Rule::vectorTableNotAtStart, "PF111", "code range",
             "place {0} first in .text, at the code start {1}, where the vector table register "
             "points",
             R"EX(A vector table stands inside the code range, not at its start.

Firmware that points the vector table register at the application's flash
(CubeMX's SystemInit with VECT_TAB_OFFSET 0x20000, an RTOS port) takes every
interrupt through the words at the code start. A table that stands further
on (a KEEP or a section placed in front of it) sends the first interrupt to
whatever lies there: the firmware locks up or runs the wrong handler, and
the image is exact all the same.

Fix: place the vector table's pattern first in .text, before any other
pattern, and keep it (KEEP).

    before:  .text : { KEEP(*(.text.loop)) KEEP(*(.isr_vector)) *(.text*) } > FLASH
    after:   .text : { KEEP(*(.isr_vector)) KEEP(*(.text.loop)) *(.text*) } > FLASH

The same under LLD.)EX",
             FixKind::byHand},
    RuleInfo{Rule::dataLineAssignment,
             "PF201",
             "range end",
             "move that assignment after the .data section, or write it without naming .data; "
             "end the code range with a line before .data that moves the location counter past "
             "the initial values " END_LINES,
             R"EX(An assignment before .data names .data.

The map rules end the code range at the first line holding ".data" after the
code start, and take the end from the last address line before it. An
assignment such as "_sidata = LOADADDR(.data);" before the .data section is
such a line: the range ends before it, without the initial values of .data.

Fix: move the assignment after .data, where it says the same, or write it
without naming .data, and end the range past the initial values with a
forward reference:

    before:  _sidata = LOADADDR(.data);
             .data : { ... } > RAM AT> FLASH
    after:   _data_image_start = .;
             . = _data_image_start + _data_image_size;
             _flash_end = .;
             .data : AT(_data_image_start) { ... } > RAM
             _data_image_size = SIZEOF(.data);
             _sidata = LOADADDR(.data);

The same under LLD, which needs the location counter moved (see PF205).)EX",
             FixKind::movesLayout,
             {Explains::rangeEnd, 1, About::mapLine}},
    RuleInfo{Rule::dataLineSectionName,
             "PF202",
             "range end",
             "rename the output section {0} to .data",
             R"EX(The RAM data's output section is not named .data, and one of its input
section lines is the first line holding ".data".

The map rules end the code range at the first line holding ".data". With the
RAM data in a section of another name (.ram_data, .sram), the first such line
is one of its input sections, inside it: the range ends there, and the RAM
check, which takes the start of the RAM data from lines holding ".data",
reads it from there too.

Fix: name the RAM data's output section .data.

    before:  .ram_data : AT(_sidata) { _sdata = .; *(.data*) ... } > RAM
             _ram_data_start = ADDR(.ram_data);
    after:   .data : AT(_sidata) { _sdata = .; *(.data*) ... } > RAM
             _ram_data_start = ADDR(.data);

The same under LLD.)EX",
             FixKind::safe,
             {Explains::rangeEnd, 2, About::mapLine}},
    RuleInfo{Rule::dataLinePattern,
             "PF203",
             "range end",
             "write that pattern so that the line does not hold .data (.dat[a] matches the same "
             "sections), or move it after .data",
             R"EX(A pattern line before .data holds ".data".

A pattern such as "*(.data.vector_table)" or "*(.rodata .data.rel.ro)" in a
flash section before .data is the first line holding ".data": the map rules
end the code range there.

Fix: write the pattern so that the map line does not hold ".data" (the
pattern .dat[a] matches the same sections), or move it after .data.

    before:  *(.data.rel.ro*)
    after:   *(.dat[a].rel.ro*)

The same under LLD.)EX",
             FixKind::safe,
             {Explains::rangeEnd, 3, About::mapLine}},
    RuleInfo{Rule::noEndLine,
             "PF204",
             "range end",
             "the code range must end after the last flash content, the initial values of {0} "
             "included: end it with a line before .data that moves the location counter past "
             "them, in an expression that does not name .data " END_LINES,
             R"EX(No line before .data carries the end of the initial values of .data.

The code range ends at the last address line before the first line holding
".data". A script that places .data's initial values after the code
(AT> FLASH) has no such line after them: the range ends with the code, and
the image lacks the initial values.

Fix: end the code range with a line before .data that moves the location
counter past the values, in an expression that does not name .data (a
forward reference to a symbol set after .data). When .data holds a double or
a 64-bit variable, align the end of the last flash section to 8 first, as
the file keeps that alignment (PF403). Where .data has a load symbol of its
own, AT(_sidata), the lines use it.

    before:  .data : { ... } > RAM AT> FLASH
    after:   _data_image_start = .;
             . = _data_image_start + _data_image_size;
             _flash_end = .;
             .data : AT(_data_image_start) { ... } > RAM
             _data_image_size = SIZEOF(.data);

Under LLD the location counter itself must be moved (see PF205).)EX",
             FixKind::movesLayout,
             {Explains::rangeEnd, 6}},
    RuleInfo{Rule::lldAssignmentEnd,
             "PF205",
             "range end",
             "move the location counter itself there " END_LINES,
             R"EX(In a map from LLD, the line that ends the code range is an assignment.

LLD prints an assignment line with the location counter at that point, not
with the value assigned. "_flash_end = _sidata + _data_image_size;" shows the
start of the initial values, not their end, and the range stops short of
them. GNU ld prints the value assigned.

Fix: move the location counter itself, and assign it after.

    before:  _flash_end = _sidata + _data_image_size;
    after:   . = _sidata + _data_image_size;
             _flash_end = .;

GNU ld prints the same value for both forms.)EX",
             FixKind::safe,
             {Explains::rangeEnd, 7}},
    RuleInfo{Rule::endInsideSection,
             "PF206",
             "range end",
             "the code range must end after the last flash content: end it with a line before "
             ".data that moves the location counter past them, in an expression that does not name "
             ".data " END_LINES,
             R"EX(The code range ends inside a flash section.

The last address line before .data stops short of the section's end: a
symbol set before the section's last input sections, or, in a map from LLD,
an alignment line, which shows the location counter before it is aligned.

Fix: end the code range with a line after the last flash section that moves
the location counter past it.

    before:  .rodata : { *(.rodata*) } > FLASH
             _etext = .;  (inside a section, or before the last one)
    after:   _sidata = .;
             . = _sidata + _data_image_size;
             _flash_end = .;

The same under LLD.)EX",
             FixKind::byHand,
             {Explains::rangeEnd, 8}},
    RuleInfo{Rule::flashSectionAfterRange,
             "PF207",
             "range end",
             "place {0} inside .text, or in the flash before the line that ends the code range",
             R"EX(A flash section lies after the end of the code range.

What the script places in the flash after the line that ends the code range
(a section after .data's initial values, a section in a second flash region
such as an apps or a storage area, with its own start symbol) is left out of
the image, and the range may end past the device's flash.

Fix: place that section in the code's flash region before the line that
ends the code range, or inside .text. A region of its own that the image
must not carry has no place in the application's link; moving a section of
one is left to you.

    before:  .data : { ... } > RAM AT> FLASH
             ...
             .last_section : { LONG(0xE015E015) } > FLASH
    after:   .last_section : { LONG(0xE015E015) ... } > FLASH
             ...
             .data : AT(...) { ... } > RAM

The same under LLD.)EX",
             FixKind::movesLayout,
             {Explains::rangeEnd, 5}},
    RuleInfo{Rule::ramSectionsBeforeData,
             "PF208",
             "range end",
             "place {0} after {1}",
             R"EX(RAM sections stand between the flash sections and .data in the map.

The code range ends at the last address line before the first line holding
".data". A RAM section listed before .data (a stack, a heap, a no-init area,
.ccmram) can hold that line: the range then ends at a RAM address, past all
the flash.

Fix: place those sections after .bss.

    before:  ._stack (NOLOAD) : { ... } > RAM
             .data : AT(_sidata) { ... } > RAM
    after:   .data : AT(_sidata) { ... } > RAM
             .bss (NOLOAD) : { ... } > RAM
             ._stack (NOLOAD) : { ... } > RAM

The same under LLD.)EX",
             FixKind::movesLayout,
             {Explains::rangeEnd, 4}},
    RuleInfo{Rule::rangeEndNotFlash,
             "PF209",
             "range end",
             "make the last address line before .data, now {0}, the end of the flash content{1}",
             R"EX(The code range does not end in the flash.

The last address line before the first line holding ".data" gives an
address past the device's flash (0x0803FE00): a RAM section's line, or a
flash section of another region listed before .data.

Fix: make the line before .data that ends the range the end of the flash
content; aelfdump --link names the sections that stand there. An assignment
of another region's address (a table's start in a flash bank of its own)
goes after .data, where it says the same.

    before:  _sapps = ORIGIN(APPS);
             .data : AT(_sidata) { ... } > RAM
    after:   .data : AT(_sidata) { ... } > RAM
             ...
             _sapps = ORIGIN(APPS);

The same under LLD.)EX",
             FixKind::safe,
             {Explains::afterRange, 12}},
    RuleInfo{Rule::rangePastFlashContent,
             "PF210",
             "range end",
             LINK_AGAIN "; or end the code range where the flash content ends",
             R"EX(The code range runs past the end of the flash content the ELF file loads.

The image would carry bytes the ELF file does not load: a map from another
link (one with more code or more initial values), or an end line placed
after a gap.

Fix: link again, so that the map and the ELF file are from the same link; or
end the code range where the flash content ends.

The same under LLD.)EX",
             FixKind::safe,
             {Explains::afterRange, 13}},
    RuleInfo{Rule::reservationLoaded,
             "PF211",
             "range end",
             "mark {0} (NOLOAD): under LLD a RAM section after one placed with AT() gets load "
             "bytes in the flash unless it is NOLOAD",
             R"EX(A RAM reservation after .bss gets load bytes in the flash.

Under LLD, a RAM section that moves the location counter (a heap, a stack)
after a section placed with AT() is given bytes in the file, loaded into the
flash after .data's initial values: the image would need them, and the code
range does not hold them.

Fix: mark the reservation NOLOAD.

    before:  ._user_heap_stack : { . = . + 0x600; ... } > RAM
    after:   ._user_heap_stack (NOLOAD) : { . = . + 0x600; ... } > RAM

GNU ld gives such a section no load bytes; NOLOAD is right for both.)EX",
             FixKind::safe,
             {Explains::rangeEnd, 9}},
    RuleInfo{Rule::ramContentAfterRange,
             "PF212",
             "range end",
             "move what {0} holds into .data ({1} inside .data's braces), whose initial values "
             "the code range covers; NOLOAD would drop its contents",
             R"EX(A RAM section after .bss holds contents that the ELF file loads after the
code range.

Code run from RAM (.ramfunc) or initialised data in a section of its own
after .bss runs from bytes the startup code copies out of the flash. The
linker loads them after .data's initial values, past the line that ends the
code range: the image would lack them. Unlike a reservation (a heap, a
stack), its bytes are not zero, so marking it NOLOAD would drop them and
the firmware with them.

Fix: move its input sections into .data, whose initial values the code
range covers, as ST's scripts do with their RamFunc sections.

    before:  .bss (NOLOAD) : { ... } > RAM
             .ramfunc : { *(.ramfunc*) } > RAM
    after:   .data : AT(_sidata) { _sdata = .; *(.data*) *(.ramfunc*) ... } > RAM

The same under LLD.)EX",
             FixKind::movesLayout,
             {Explains::afterRange, 10}},
    RuleInfo{Rule::symbolStale, "PF301", "symbols", LINK_AGAIN,
             R"EX(A symbol's address in the map is not the ELF file's.

The header carries the five symbols' addresses from the map. When the ELF
file defines a symbol elsewhere (a global or weak definition, else a local
one; for a function, bit 0 aside), or not at all, the map is from another
link, and the device's loader would call or read the wrong address.

Fix: link again, so that the map and the ELF file are from the same link,
and give pakforge both.

LLD's map keeps a function's bit 0; GNU ld's leaves it out: both agree with
the ELF file.)EX"},
    RuleInfo{Rule::symbolLocalOnly, "PF302", "symbols", "make {0} global (not static)",
             R"EX(A symbol is only a local one in the ELF file.

The device's loader finds the five symbols by the header alone, but a
static function or table of that name is easily one of several; the map
lists a local symbol only where the linker prints it.

Fix: make the symbol global.

    before:  static void loop(void) { ... }
    after:   void loop(void) { ... }

The same under LLD.)EX",
             FixKind::byHand},
    RuleInfo{Rule::symbolDiscarded, "PF303", "symbols",
             "keep it: KEEP(*({0})) in the linker script, or link with -Wl,--undefined={1}",
             R"EX(--gc-sections discarded a symbol's section.

Nothing in the firmware refers to the five symbols: the device's loader
does. Linked with --gc-sections, their sections are thrown away, and the
map lists them in its block of discarded input sections.

Fix: keep their sections in the script, or name them as undefined on the
command line.

    before:  *(.rodata*)
    after:   KEEP(*(.rodata.ModbusHGroups_Table))
             *(.rodata*)

The same under LLD, whose map has no discarded block.)EX"},
    RuleInfo{Rule::symbolUndefined, "PF304", "symbols",
             "define {0} as a global symbol, and keep its section (KEEP(*(.text.{0})) or "
             "KEEP(*(.rodata.{0})) in the linker script, or -Wl,--undefined={0})",
             R"EX(A symbol is not in the ELF file.

The firmware does not define it, or --gc-sections discarded it without a
trace in the map (LLD).

Fix: define it as a global symbol, and keep its section.

    after:   void loop(void) { ... }
             KEEP(*(.text.loop))   (in .text)

The same under LLD.)EX"},
    RuleInfo{Rule::symbolBeforeRange, "PF305", "symbols",
             "fix the start of the code range (the code range's problem says how): the symbol "
             "lies in the range then",
             R"EX(A symbol lies before the code range.

The map rules read the five symbols from the lines of the code range; one
placed before it (in a section before .text) is not found.

Fix: the code range's own problem (PF106) moves what lies before it into
.text; the symbol is found then. The same under LLD.)EX"},
    RuleInfo{Rule::symbolAfterRange, "PF306", "symbols",
             "fix the end of the code range (the code range's problem says how): the symbol lies "
             "in the range then",
             R"EX(A symbol lies after the code range.

The map rules read the five symbols from the lines of the code range; one
placed after its end (in a flash section after the line that ends it) is
not found.

Fix: the code range's own problem (PF207, PF204) brings that section into
the range; the symbol is found then. The same under LLD.)EX"},
    RuleInfo{Rule::symbolWithoutMapLine, "PF307", "symbols",
             "give pakforge the map the linker wrote for this ELF file (-Wl,-Map=...)",
             R"EX(A symbol lies inside the code range, but the map has no line for it there.

GNU ld and LLD list every global symbol under its input section. A map that
lacks one was edited, cut, or written by another link.

Fix: give pakforge the map the linker wrote with this ELF file.)EX"},
    RuleInfo{Rule::symbolAssigned, "PF308", "symbols",
             "define {0} in the firmware instead of the script's assignment: a function or "
             "variable of that name, or an alias of {1} ({2})",
             R"EX(A symbol is defined by an assignment in the linker script.

The map lists an assignment as "ADDRESS NAME = EXPRESSION", and the symbol
scan takes a line's last word for its name: for "loop = app_loop" it reads
app_loop, and loop is missing. The map is the right one; the assignment's
line is what the scan can't read.

Fix: define the symbol in the firmware, where the map lists it under its
input section: name the function itself, or make the name an alias.

    before:  loop = app_loop;                      (in the script)
    after:   void loop(void) __attribute__((alias("app_loop")));   (in C)

The same under LLD.)EX",
             FixKind::byHand},
    RuleInfo{Rule::symbolLocalListedLast, "PF309", "symbols",
             "rename the file-local {0} (static) of the other module, so that the last line of "
             "the map naming {0} is the global one",
             R"EX(The map lists a file-local symbol of the same name after the global one.

The symbol scan takes the last line in the code range that names a symbol.
LLD's map lists file-local symbols too, in input order: a static function
called loop in a module linked after the one that defines the global loop
gives the later line, and the header would carry the static function's
address. The map is from this link; linking again changes nothing.

Fix: rename the file-local one, or link its module first.

    before:  static void loop(void) { ... }        (in another module)
    after:   static void blinkLoop(void) { ... }

GNU ld's map lists global symbols alone and is not misled.)EX",
             FixKind::byHand},
    RuleInfo{Rule::symbolStripped, "PF310", "symbols",
             "give pakforge the ELF file as the link wrote it; strip it after packaging, or keep "
             "the five names (strip -K __entryPoint__ -K loop -K ModbusHGroups_Table -K "
             "ModbusIGroups_Table -K ModbusRemoteRegTables)",
             R"EX(A symbol the map gives is not in the ELF file's symbol table.

Another link of the same firmware defines the same names, so a symbol table
without one was most likely cut down: strip -K NAME keeps only the names
it is given, and --strip-unneeded drops the rest. pakforge checks the five
header symbols against the table and can't vouch for one it lacks.

Fix: give pakforge the ELF file as the link wrote it, and strip a copy
afterwards; or keep the five names when stripping.

    before:  arm-none-eabi-strip -K loop app.elf
    after:   arm-none-eabi-strip -K __entryPoint__ -K loop -K ModbusHGroups_Table \
               -K ModbusIGroups_Table -K ModbusRemoteRegTables app.elf

The same with LLD's output.)EX",
             FixKind::byHand},
    RuleInfo{Rule::textNotAtOffset, "PF401", "file offset",
             "align .text to {0} (ALIGN({0})) so that the file holds it from offset {0}{1}",
             R"EX(The ELF file holds the code at another offset than pakforge reads it from.

pakforge reads the code from the ELF file as flat bytes, at an offset made
of the lowest non-zero hex digit of addrExe - 0x08000000 alone (0x20000 for
code at 0x08020000). Linked with -n, a segment's file offset follows its
alignment: .text aligned to that offset lands there.

Fix: align .text to the derived offset.

    before:  .text : { ... } > FLASH
    after:   .text : ALIGN(0x20000) { ... } > FLASH   (and link with -n)

The same under LLD.)EX",
             FixKind::movesLayout},
    RuleInfo{Rule::pageAlignedSegments, "PF402", "file offset",
             "link with -n (no page alignment of segments), so that the file holds the flash "
             "content as one block, as the flash does",
             R"EX(The ELF file aligns its segments to pages.

Without -n, GNU ld and LLD place each segment at a page boundary of the
file: the initial values of .data lie further on in the file than in the
flash, and pakforge, which reads the flash content as one block, would take
the gap instead.

Fix: link with -n (gcc -Wl,-n; ld.lld -n).)EX"},
    RuleInfo{Rule::initialValuesMisaligned,
             "PF403",
             "file offset",
             "align the location counter (. = ALIGN({0})) at the end of the last flash section, "
             "before the load address of the initial values is taken",
             R"EX(The initial values of .data are loaded at an address that is not a multiple
of .data's alignment.

A double or a 64-bit variable makes .data 8-aligned, and the file keeps
that alignment for its initial values: loaded at an address that is only
4-aligned, they lie a few bytes further on in the file than in the flash,
and the code range counts them from the lower address.

Fix: align the location counter at the end of the last flash section, so
that the load address taken after it is aligned too. Between the sections
the alignment would leave a gap that the file, linked with -n, does not
hold.

    before:  .rodata : { *(.rodata*) ... } > FLASH
             _sidata = .;
    after:   .rodata : { *(.rodata*) ... . = ALIGN(8); } > FLASH
             _sidata = .;

Under LLD the alignment line shows the location counter before it is
aligned; the end line after it is right.)EX",
             FixKind::movesLayout,
             {Explains::afterRange, 11}},
    RuleInfo{Rule::flashNotOneBlock, "PF404", "file offset",
             "no change is known from what this link shows: compare its script with the "
             "recipe (examples/firmware/link.ld in the sources) or the installed "
             "linker-script template, which keep the flash content one block in the file",
             R"EX(The ELF file holds part of the flash content elsewhere than one block from
the code start, and the link shows no cause pakforge knows.

pakforge reads the code as one block of the file from the offset it derives
from addrExe. The start of the code is where it should be, but a later part
of the flash content is not: the file leaves out or adds bytes between two
loaded sections that the flash does not. Aligning .text would not help: it
is already in place.

Fix: none that this link bears out. Link after the recipe or the template,
where the sections loaded into the flash follow one another with nothing
between their load addresses, and see the other problems listed: a section
loaded after the code range often causes it.

The same under LLD.)EX"},
    RuleInfo{Rule::codeStartNotAlignable, "PF405", "file offset",
             "start the code at 0x08020000, where the application's flash starts (FLASH "
             "ORIGIN = 0x08020000), and align .text to 0x20000 (ALIGN(0x20000)) with -n: no "
             "alignment puts the code, at {0}, at file offset {1} without moving it",
             R"EX(The code starts at an address that no alignment of .text can put at the
file offset pakforge reads it from.

pakforge reads the code from the file offset made of the lowest non-zero
hex digit of addrExe - 0x08000000: 0x3000 for code at 0x08023000. Linked
with -n, .text lands at a file offset equal to its alignment only when that
alignment is a power of two and the code start a multiple of it. Otherwise
an ALIGN would move the code itself, away from where the firmware and the
map expect it.

Fix: start the code where the application's flash starts, as the recipe
does, and align .text there.

    before:  FLASH (rx) : ORIGIN = 0x08023000, LENGTH = ...
             .text : { ... } > FLASH
    after:   FLASH (rx) : ORIGIN = 0x08020000, LENGTH = 0x1FE00
             .text : ALIGN(0x20000) { ... } > FLASH   (and link with -n)

Where the region starts there already, a NOLOAD reservation before .text (a
boot loader's image header, as Mynewt's and MCUboot's scripts keep) is what
moves the code: the device's loader reads the image's own header, so the
reservation is emptied, and what marks its end still marks the code start.

    before:  .imghdr (NOLOAD) :
             {
               . = . + _imghdr_size;
             } > FLASH
    after:   .imghdr (NOLOAD) :
             {
               . = .;
             } > FLASH

The same under LLD.)EX",
             FixKind::movesLayout},
    RuleInfo{Rule::ramStartNotData, "PF501", "RAM",
             "after .bss, make the start of .data the last such line: . = ADDR(.data); "
             "_ram_data_start = ADDR(.data);",
             R"EX(The RAM report's start of the RAM data is not the start of .data.

The RAM check takes the start of the RAM data from the last line of the map
that holds both ".data" and a RAM address: an input section of .data from a
later file, or a symbol such as _edata, can be that line.

Fix: make the start of .data the last such line, after .bss.

    after:   . = ADDR(.data);
             _ram_data_start = ADDR(.data);   (at the end of SECTIONS)

LLD prints the location counter on assignment lines: moving it to
ADDR(.data) first makes its line show the right value.)EX"},
    RuleInfo{Rule::ramNoDataLine,
             "PF502",
             "RAM",
             "name the RAM data's output section{0} .data, or add . = ADDR(.data); "
             "_ram_data_start = ADDR(.data); after .bss{1}",
             R"EX(No line of the map holds both ".data" and a RAM address.

The RAM check then starts the RAM data at 0, and the report is meaningless.

Fix: name the RAM data's output section .data, or add the lines of PF501.
The same under LLD.)EX",
             FixKind::safe,
             {Explains::afterRange, 14, About::mapLine}},
    RuleInfo{Rule::ramCheckFails,
             "PF503",
             "RAM",
             "describe only the device's RAM in the linker script: a RAM bank the device lacks, or "
             "the end of a larger RAM, must not stand in the map as an address",
             R"EX(The RAM check fails on an address past the RAM the firmware uses.

The RAM check takes the highest RAM address of any line holding "2000". A
script for a part with more RAM, or with a second bank (SRAM2, CCM at
0x10000000 written as 0x2001xxxx), puts such addresses in the map, and the
RAM data appears larger than the device's RAM.

Fix: describe only the device's RAM in the script.

    before:  RAM (rwx) : ORIGIN = 0x20000000, LENGTH = 128K
    after:   RAM (rwx) : ORIGIN = 0x20000000, LENGTH = 32K

The same under LLD.)EX",
             FixKind::movesLayout,
             {Explains::ramReport, 1}},
    RuleInfo{
        Rule::ramReportHigh,
        "PF504",
        "RAM",
        "set the stack top at the end of a stack reservation after .bss (. = ALIGN(8); . = . + "
        "0x400; _estack = .;), not at the end of RAM; a heap that takes all the RAM left, or "
        "a symbol for the end of RAM, keeps the report at the end of RAM, which is then what "
        "the firmware reserves",
        R"EX(The RAM report's highest address lies past all the RAM the firmware uses.

The report takes the highest RAM address of the map: a stack top written
as the end of RAM (_estack = ORIGIN(RAM) + LENGTH(RAM)) makes every build
report the whole RAM as used.

Fix: reserve the stack after .bss and set the stack top at its end.

    before:  _estack = ORIGIN(RAM) + LENGTH(RAM);
    after:   ._user_heap_stack (NOLOAD) :
             {
               . = ALIGN(8);
               . = . + _Min_Heap_Size;
               . = . + _Min_Stack_Size;
               . = ALIGN(8);
               _estack = .;
             } > RAM

The same under LLD.)EX",
        FixKind::byHand,
        {Explains::ramReport, 2}},
    RuleInfo{Rule::stackTopOutsideRam, "PF505", "RAM",
             "end the RAM region at the device's RAM, {0}, so that the stack top set from it "
             "lies inside",
             R"EX(The initial stack pointer lies outside the device's RAM.

The first word of the vector table is the stack top the core, or an RTOS
port that reloads the main stack pointer from it, starts with. A script
written for a part with more RAM (RAM LENGTH = 96K, _estack = ORIGIN(RAM) +
LENGTH(RAM)) puts it past the device's 32 KiB, and the first push writes
memory the device lacks.

Fix: describe only the device's RAM in the script, so that the stack top
set from the region's end lies inside it.

    before:  RAM (rwx) : ORIGIN = 0x20000000, LENGTH = 96K
    after:   RAM (rwx) : ORIGIN = 0x20000000, LENGTH = 32K

The same under LLD.)EX",
             FixKind::movesLayout},
    RuleInfo{Rule::ramDataOutsideRam, "PF506", "RAM",
             "run {0} in the device's RAM, from 0x20000000 (> RAM, or an address of its own), "
             "with its initial values loaded into the flash",
             R"EX(.data or .bss runs outside the device's RAM.

The start-up code copies .data's initial values to where .data runs and
zeroes .bss there: outside the RAM (in the flash, where the location
counter still stood) nothing written stays, and the RAM report measured
nothing. pakforge refuses such a link.

Fix: run .data and .bss in the device's RAM, and load .data's initial
values into the flash.

    before:  _sidata = .;
             .data : AT(_sidata) { ... }
    after:   _sidata = .;
             .data 0x20000000 : AT(_sidata) { ... }

The same under LLD.)EX",
             FixKind::byHand},
    RuleInfo{Rule::ramBankMissing, "PF507", "RAM",
             "move what {0} holds into {1}, in the device's RAM",
             R"EX(An output section runs in a RAM bank the device lacks.

The device's RAM is 0x20000000-0x20008000. A script written for a larger
part may place a section in a second bank (SRAM2, CCM, DTCM, an AHB bank):
the start-up code would copy initial values to it, or zero it, where no
memory answers, and code or data placed there would fault. Empty, it still
holds lines that name .data, which end the code range early.

Fix: move its input sections into .data when the flash holds its initial
values (AT> FLASH), or into .bss when it has none; what names it (a copy
table's LOADADDR, ADDR and SIZEOF of it) names the markers of what moved.

    before:  .data : { _sdata = .; *(.data*) . = ALIGN(4); _edata = .; } > RAM AT> FLASH
             .ramfunc : { *(.ramfunc*) } > CCMRAM AT> FLASH
    after:   .data : ... { _sdata = .; *(.data*) *(.ramfunc*) ... } > RAM

The same under LLD.)EX",
             FixKind::movesLayout},
    RuleInfo{Rule::flashPastLimit, "PF601", "flash",
             "place {0} in the application's flash, below {1}: inside .text, or before the line "
             "that ends the code range (a flash region of the linker script that ends past {1} "
             "lets the linker put it there)",
             R"EX(The ELF file loads bytes past the end of the application's flash.

The application may use the flash up to 0x0803FE00; above it, up to
0x10000000, lies flash that no image can carry. A section there (the last
flash page, or a link made for a bigger part) would be missing on the
device.

Fix: place what lies there in the application's flash, inside .text or
before the line that ends the code range, and end the flash region of the
script at 0x0803FE00, so that the linker says when the firmware does not
fit. A second region (another bank, a storage area) that the image must not
carry has no place in the application's link.

    before:  FLASH (rx) : ORIGIN = 0x08020000, LENGTH = 128K
             .apps : { KEEP(*(.apps*)) } > APPS
    after:   FLASH (rx) : ORIGIN = 0x08020000, LENGTH = 0x1FE00
             .text : { ... KEEP(*(.apps*)) } > FLASH

The same under LLD.)EX",
             FixKind::byHand},
    RuleInfo{Rule::flashOverlap, "PF602", "flash",
             "give each section that is loaded into the flash an address range of its own",
             R"EX(Two segments of the ELF file load bytes at the same flash address.

The flash can hold only one of them, and which one the device would get is
not the ELF file's to say. Both linkers refuse overlapping load addresses
unless told not to check them (--no-check-sections).

Fix: give each loaded section a range of its own, and link without
--no-check-sections (GNU ld and LLD alike).)EX"},
    RuleInfo{Rule::loadedOutsideFlash, "PF603", "flash",
             "load {0} into the flash after the code{1}",
             R"EX(The ELF file loads bytes outside the flash.

An image carries the code range of the flash and nothing else: bytes the
ELF file loads into RAM, system memory or an external memory would never
reach the device. It happens to the initial values of .data when their load
address is taken from the location counter of a RAM section, so that the
ELF file loads them where they run, or at address 0, instead of into the
flash; and to a RAM section holding code (.ramfunc) placed in RAM without a
load address in the flash.

Fix: load what lies there into the flash after the code. A section that
runs in RAM keeps its run address and takes a load address in the flash.

    before:  .bss (NOLOAD) : { ... } > RAM
             _sidata = .;
             .data : AT(_sidata) { ... } > RAM
    after:   _sidata = .;          (right after the last flash section)
             ...
             .data : AT(_sidata) { ... } > RAM

    before:  .data : { ... } > RAM AT> RAM
    after:   _data_image_start = .;
             ...
             .data : AT(_data_image_start) { ... } > RAM

Bytes that are all zero and loaded where they run (LLD writes .bss and a
heap or stack reservation so when a section with contents follows them) are
no firmware and are left out without a refusal; mark a reservation
(NOLOAD) to keep them out of the file. The same under LLD.)EX",
             FixKind::movesLayout},
};

#undef END_LINES
#undef LINK_AGAIN

}  // namespace

std::span<const RuleInfo> allRules() {
  return kRules;
}

const RuleInfo& ruleInfo(Rule rule) {
  for (const RuleInfo& info : kRules) {
    if (info.rule == rule) {
      return info;
    }
  }
  static const RuleInfo none{Rule::none, "", "", "", ""};
  return none;
}

const RuleInfo* findRule(std::string_view code) {
  for (const RuleInfo& info : kRules) {
    if (info.code.size() == code.size() &&
        std::equal(code.begin(), code.end(), info.code.begin(), [](char a, char b) {
          return std::toupper(static_cast<unsigned char>(a)) == b;
        })) {
      return &info;
    }
  }
  return nullptr;
}

std::vector<Rule> rulesExplaining(std::initializer_list<Explains> refusals) {
  std::vector<const RuleInfo*> found;
  for (const RuleInfo& info : kRules) {
    if (std::find(refusals.begin(), refusals.end(), info.refusal.explains) != refusals.end()) {
      found.push_back(&info);
    }
  }
  std::stable_sort(found.begin(), found.end(), [](const RuleInfo* a, const RuleInfo* b) {
    return a->refusal.rank < b->refusal.rank;
  });
  std::vector<Rule> rules;
  rules.reserve(found.size());
  for (const RuleInfo* info : found) {
    rules.push_back(info->rule);
  }
  return rules;
}

std::string fixText(Rule rule, std::initializer_list<std::string_view> names) {
  const std::string_view fix = ruleInfo(rule).fix;
  std::string text;
  for (std::size_t i = 0; i < fix.size(); ++i) {
    const std::size_t index = i + 2 < fix.size() && fix[i] == '{' && fix[i + 2] == '}'
                                  ? static_cast<std::size_t>(fix[i + 1] - '0')
                                  : names.size();
    if (index < names.size()) {
      text += names.begin()[index];
      i += 2;
    } else {
      text += fix[i];
    }
  }
  return text;
}

}  // namespace pakforge

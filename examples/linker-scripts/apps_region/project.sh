# A project that keeps a table of applications in a flash region of its own
# past the code's (a second flash bank), with a start symbol the firmware
# reads: the vector table in .isr_vector, the stack top _estack, the table
# in .apps; linked without --gc-sections.
defines=(-DVECTORS_SECTION='".isr_vector"' -DSTACK_TOP=_estack -DAPPS_SECTION='".apps"')
linkers=(gnu lld)
fixes=(APPS OFFSET STACK)
# The edits aelfdump --link must name for the stock form, by linker.
named_gnu=(APPS OFFSET STACK)
named_lld=(APPS OFFSET)

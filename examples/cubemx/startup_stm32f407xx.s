/* The startup of an STM32F407 project, in the form CubeMX's startup files
 * take: the vector table in .isr_vector with _estack first, and a reset
 * handler that copies .data's initial values from _sidata, clears .bss, runs
 * the static constructors and calls main. */
  .syntax unified
  .cpu cortex-m4
  .fpu softvfp
  .thumb

  .global g_pfnVectors
  .global Default_Handler

  .section .text.Reset_Handler
  .weak Reset_Handler
  .type Reset_Handler, %function
Reset_Handler:
  ldr sp, =_estack
  ldr r0, =_sdata
  ldr r1, =_edata
  ldr r2, =_sidata
copy_data:
  cmp r0, r1
  bcs data_copied
  ldr r3, [r2], #4
  str r3, [r0], #4
  b copy_data
data_copied:
  ldr r0, =_sbss
  ldr r1, =_ebss
  movs r3, #0
clear_bss:
  cmp r0, r1
  bcs bss_cleared
  str r3, [r0], #4
  b clear_bss
bss_cleared:
  bl __libc_init_array
  bl main
  b .
  .size Reset_Handler, .-Reset_Handler

  .section .text.Default_Handler, "ax", %progbits
Default_Handler:
  b Default_Handler
  .size Default_Handler, .-Default_Handler

/* 16 exception and 82 interrupt vectors. */
  .section .isr_vector, "a", %progbits
  .type g_pfnVectors, %object
g_pfnVectors:
  .word _estack
  .word Reset_Handler
  .rept 96
  .word Default_Handler
  .endr
  .size g_pfnVectors, .-g_pfnVectors

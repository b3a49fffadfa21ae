# The same cross compiler with a plain toolchain file: packages are looked
# for wherever CMake usually looks.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_C_FLAGS_INIT "-mcpu=cortex-m4 -mthumb -ffreestanding")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

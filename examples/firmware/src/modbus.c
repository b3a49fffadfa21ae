/* The register tables that the device's Modbus stack reads. */
#include "modbus.h"

extern uint16_t holdingRegisters[8];

const ModbusGroup ModbusHGroups_Table[] = {
    {0, 4, "setpoints"},
    {4, 4, "counters"},
    {0, 0, 0},
};

const ModbusGroup ModbusIGroups_Table[] = {
    {100, 2, "inputs"},
    {0, 0, 0},
};

const uint32_t ModbusRemoteRegTables[] = {0x00010001u, 0x00020004u, 0u};

uint16_t modbusChecksum(void) {
  uint16_t sum = 0;
  for (unsigned i = 0; i < 8; ++i) {
    sum = (uint16_t)(sum + holdingRegisters[i]);
  }
  return sum;
}

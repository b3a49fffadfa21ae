#ifndef MODBUS_H
#define MODBUS_H

#include <stdint.h>

typedef struct {
  uint16_t first;
  uint16_t count;
  const char* name;
} ModbusGroup;

extern const ModbusGroup ModbusHGroups_Table[];
extern const ModbusGroup ModbusIGroups_Table[];
extern const uint32_t ModbusRemoteRegTables[];

uint16_t modbusChecksum(void);

#endif

/* The application's entry points, as the device's loader calls them. */
#ifndef MAIN_H
#define MAIN_H

void __entryPoint__(void);
void loop(void);

#endif

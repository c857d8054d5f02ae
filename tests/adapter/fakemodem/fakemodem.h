// Emulated serial device for testing the real port code through the operating system's ioctl path.
//
// Preloaded (LD_PRELOAD) into a test, the library answers the modem-line ioctls (TIOCMGET,
// TIOCMBIS, TIOCMBIC, TIOCMSET) on the one descriptor whose /proc/self/fd link equals the path in
// TAVOXA_FAKEMODEM_DEVICE, from a PCF8574 on the lines: DTR = SDA, RTS = SCL, CTS = SDA as read.
// Every other call goes to the real ioctl. Pseudo-terminals alone answer ENOTTY to these requests.
// TAVOXA_FAKEMODEM_CALL_US sets the time each modem-line call takes (microseconds, default 0), as
// a USB serial adapter takes 0.1 to 4 ms per call.
//
// A test reaches the functions below through dlsym(RTLD_DEFAULT, ...), so that it also builds and
// skips cleanly without the preload.
#pragma once

#define TAVOXA_FAKEMODEM_DEVICE_ENV "TAVOXA_FAKEMODEM_DEVICE"
#define TAVOXA_FAKEMODEM_CALL_US_ENV "TAVOXA_FAKEMODEM_CALL_US"

extern "C" {
// input 1 = K1, 2 = K2.
typedef void (*tavoxa_fakemodem_set_contact_fn)(int input, int closed);
void tavoxa_fakemodem_set_contact(int input, int closed);
// 7-bit chip address, 0x20 by default.
typedef void (*tavoxa_fakemodem_set_address_fn)(int address7);
void tavoxa_fakemodem_set_address(int address7);
// Latched output byte of the chip.
typedef int (*tavoxa_fakemodem_pins_fn)();
int tavoxa_fakemodem_pins(void);
// Calls answered since the last reset: line changes (TIOCMBIS, TIOCMBIC, TIOCMSET) and line
// reads (TIOCMGET).
typedef void (*tavoxa_fakemodem_counts_fn)(long* lineChanges, long* lineReads);
void tavoxa_fakemodem_counts(long* lineChanges, long* lineReads);
typedef void (*tavoxa_fakemodem_reset_fn)();
void tavoxa_fakemodem_reset(void);  // counters and bus log
// Bus events seen since the last reset, each kind << 16 | acked << 8 | value, kind 0 START,
// 1 byte, 2 STOP. Returns the number of events (at most max are stored).
typedef int (*tavoxa_fakemodem_bus_log_fn)(int* events, int max);
int tavoxa_fakemodem_bus_log(int* events, int max);
// Every modem-line call fails with this errno from now on (EIO or ENXIO, as a USB adapter that was
// pulled out); 0 makes the device answer again.
typedef void (*tavoxa_fakemodem_set_failure_fn)(int error);
void tavoxa_fakemodem_set_failure(int error);
// The time each modem-line call takes from now on, as TAVOXA_FAKEMODEM_CALL_US sets it at start.
typedef void (*tavoxa_fakemodem_set_call_us_fn)(long us);
void tavoxa_fakemodem_set_call_us(long us);
}

// Console conventions shared by both tools: prompts, key wait, failure reports, hex conversion.
#pragma once

#include <cstdint>

class C_ZANTO_EXTCMD_IF;

// printf-style output to the console.
void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Asks until a line is a decimal number in [min, max] and returns it. Only digits pass; the
// value saturates at 2147483647 before it is judged.
int PromptNumber(const char* message, int min, int max);

// Asks until a line has an acceptable length (mode 0: exactly maxLength characters; any other
// mode: 1 to maxLength) and copies it with its terminator into out, which holds maxLength + 1.
int PromptText(char* out, int maxLength, const char* message, int mode);

// Waits for one key press, without echo, and discards it.
void WaitKey();

// One of the tools' fixed pauses (the adapter restarting, writing its memory). A request to end
// cuts it short and ends the run as the end of input does.
void Pause(std::uint32_t milliseconds);

// Converts count hexadecimal digit characters into count / 2 bytes (one more for an odd count);
// a character that is no hex digit counts as 0. Bytes beyond those are left untouched.
void HexToBytes(const char* text, int count, std::uint8_t* out);

// The two failure report forms: the object's last error code, and an adapter's result byte.
void PrintErrorCode(C_ZANTO_EXTCMD_IF& extcmd);
void PrintResultFailure(std::uint8_t result);

// Sends the request in the object's buffer and waits for its answer; a failed exchange is
// reported with PrintErrorCode. Returns the answer's data area, or nullptr after the report.
std::uint8_t* Exchange(C_ZANTO_EXTCMD_IF& extcmd);
// The same, and the adapter's result byte (data byte 0) must be 0, else it is reported with
// PrintResultFailure.
std::uint8_t* ExchangeAccepted(C_ZANTO_EXTCMD_IF& extcmd);
// True for result 0; any other result is reported with PrintResultFailure.
bool Accepted(std::uint8_t result);

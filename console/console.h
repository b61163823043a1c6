// Console conventions shared by both tools: prompts, key wait, failure reports, hex conversion.
#pragma once

#include <cstdint>

class C_ZANTO_EXTCMD_IF;
namespace commands {
struct Failure;
}

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

// Before a command's exchange: what the tool printed so far shows while it waits for the answer
// (progress marks too), and a request to end (a terminating signal) stops a run of exchanges, a
// firmware transfer say, as the end of input would.
void BeforeExchange();
// Reports a failed command with the form that fits it (PrintErrorCode's for a failed exchange,
// PrintResultFailure for the adapter's refusal) and returns 0; an exchange that a request to end
// cut short is not reported, the run ends as the end of input would.
int ReportFailure(const commands::Failure& failure);

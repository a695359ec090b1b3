// The types of the SAA application interface, as the package declares them.
//
// The package does not include an interpreter's header: the library is loaded
// by Regina (3.6 and later) or by ooRexx 5, takes the four API functions from
// whichever interpreter loaded it (frame/saa.h), and must fit the interface
// of both on 64-bit Linux. Where the two headers differ in a type, the
// declarations below are the ones whose layout and calling convention agree
// with both:
//
// - String lengths (RXSTRING.strlength, SHVBLOCK.shvnamelen/shvvaluelen):
//   Regina's ULONG (unsigned long) and ooRexx's size_t are both 64 bits.
// - An external function's answer: Regina reads an APIRET (unsigned long),
//   ooRexx a size_t, both 64 bits; the package answers a full 64-bit value,
//   never a narrower one whose upper half the caller would read as garbage.
// - The answers of the API functions: Regina returns unsigned long, ooRexx an
//   int. The package reads an int: the low 32 bits, which hold the whole
//   answer in both (the codes are small flags).
// - The argument count: Regina's ULONG and ooRexx's size_t, both 64 bits.
//
// tests/frame/saa_layout_test.cc checks these against Regina's header at
// compile time; the end-to-end scripts run under both interpreters.
#pragma once

#include <cstddef>

namespace ktdb {

// An SAA string: a length and a pointer, not necessarily terminated.
struct RXSTRING {
  std::size_t strlength;
  char* strptr;
};
using PRXSTRING = RXSTRING*;
using PCSZ = const char*;

// The argument count an external function receives.
using ULONG = std::size_t;
// What an external function answers: 0, or 40 for an incorrect call.
using APIRET = std::size_t;
// What the API functions answer (read as the low 32 bits).
using ApiAnswer = int;

// The shared-variable request block.
struct SHVBLOCK {
  SHVBLOCK* shvnext;
  RXSTRING shvname;
  RXSTRING shvvalue;
  std::size_t shvnamelen;
  std::size_t shvvaluelen;
  unsigned char shvcode;
  unsigned char shvret;
};
using PSHVBLOCK = SHVBLOCK*;

// Request codes and answer flags of the variable pool (the same numbers in
// both interpreters).
inline constexpr unsigned char RXSHV_SET = 0x00;
inline constexpr unsigned char RXSHV_FETCH = 0x01;
inline constexpr unsigned char RXSHV_DROPV = 0x02;
inline constexpr unsigned char RXSHV_SYSET = 0x03;
inline constexpr unsigned char RXSHV_SYFET = 0x04;
inline constexpr ApiAnswer RXSHV_OK = 0x00;
inline constexpr ApiAnswer RXSHV_NEWV = 0x01;
inline constexpr ApiAnswer RXSHV_LVAR = 0x02;
inline constexpr ApiAnswer RXSHV_TRUNC = 0x04;
inline constexpr ApiAnswer RXSHV_BADN = 0x08;
inline constexpr ApiAnswer RXSHV_MEMFL = 0x10;
inline constexpr ApiAnswer RXSHV_BADF = 0x80;
inline constexpr ApiAnswer RXSHV_NOAVL = 0x90;

// The size of the result buffer the interpreter hands an external function
// (both interpreters: 256 bytes).
inline constexpr std::size_t RXAUTOBUFLEN = 256;

// The signature of an external function (each exported entry point).
using FunctionHandler = APIRET(PCSZ name, ULONG argc, PRXSTRING argv, PCSZ queue, PRXSTRING result);

// The signatures of the four API functions the package calls.
using RegisterFunctionDll = ApiAnswer(PCSZ name, PCSZ module, PCSZ entry);
using DeregisterFunction = ApiAnswer(PCSZ name);
using VariablePool = ApiAnswer(PSHVBLOCK request);
using AllocateMemory = void*(std::size_t size);

}  // namespace ktdb

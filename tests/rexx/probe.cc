// A test-only REXX function package that drives the frame's variable pool
// access from inside the real interpreter, so that SetVariable, FetchVariable
// and the stem name rule are checked against Regina itself.
#include <string>

#include "frame/frame.h"

#define PROBE_FUNCTION(NAME)                                           \
  extern "C" __attribute__((visibility("default"))) ktdb::APIRET NAME( \
      ktdb::PCSZ, ktdb::ULONG argc, ktdb::PRXSTRING argv, ktdb::PCSZ, ktdb::PRXSTRING result)

// PROBEFETCH(name): fetches the variable; sets PROBE.VALUE to what was
// fetched and answers its length, or "BADN" when the name is rejected.
PROBE_FUNCTION(PROBEFETCH) {
  const ktdb::Arguments args(argc, argv);
  ktdb::Result out(result);
  const auto length = ktdb::FetchVariable(args.Text(1));
  if (!length) return out.Set("BADN") ? 0 : 40;
  // The terminator must stand right behind the value.
  if (ktdb::ValueBuffer[*length] != '\0') return 40;
  const std::string value(ktdb::ValueBuffer.data(), *length);
  if (!ktdb::SetVariable("PROBE.VALUE", value)) return 40;
  return out.SetNumber(static_cast<std::int32_t>(*length)) ? 0 : 40;
}

// PROBESET(name, value): answers 1 when the set succeeded, 0 otherwise.
PROBE_FUNCTION(PROBESET) {
  const ktdb::Arguments args(argc, argv);
  ktdb::Result out(result);
  return out.SetNumber(ktdb::SetVariable(args.Text(1), args.Text(2)) ? 1 : 0) ? 0 : 40;
}

// PROBESTEM(stem, suffix, value): sets stem||suffix by the stem name rule and
// answers the composed name; 40 when it does not fit the 256-byte buffer.
PROBE_FUNCTION(PROBESTEM) {
  const ktdb::Arguments args(argc, argv);
  ktdb::Result out(result);
  ktdb::StemName name(ktdb::StemBuffer);
  if (!name.SetStem(args.Text(1)) || !name.SetSuffix(args.Text(2))) return 40;
  if (!ktdb::SetVariable(name.Name(), args.Text(3))) return 40;
  return out.Set(name.Name()) ? 0 : 40;
}

// PROBERESULTSIZE(): the size of the result buffer the interpreter supplies.
PROBE_FUNCTION(PROBERESULTSIZE) {
  (void)argc;
  (void)argv;
  const std::string size = std::to_string(result->strlength);
  ktdb::Result out(result);
  return out.Set(size) ? 0 : 40;
}

// The exported entry points (declared in entry_points.h from
// frame/functions.def). Each is thin: the entry guard and Busy marking, the
// result preset where the function returns text, the check of its required
// arguments, then the subsystem's function, which does the work and leaves
// the package Idle. KTH alone runs without a guard.
#include "entry/entry_points.h"

#include "frame/frame.h"
#include "lob/lob.h"
#include "server/server.h"
#include "statements/statements.h"
#include "web/web.h"

#define KTDB_FUNCTION(NAME) \
  extern "C" APIRET NAME(PCSZ, ULONG argc, PRXSTRING argv, PCSZ, PRXSTRING result)

using ktdb::Admission;
using ktdb::APIRET;
using ktdb::Arguments;
using ktdb::EnterCall;
using ktdb::kCallRan;
using ktdb::kIncorrectCall;
using ktdb::LeaveCall;
using ktdb::PCSZ;
using ktdb::PRXSTRING;
using ktdb::Refusal;
using ktdb::Result;
using ktdb::ULONG;

KTDB_FUNCTION(KTLOADFUNCS) {
  (void)argc;
  (void)argv;
  Result out(result);
  if (!EnterCall(Admission::kUnloadedNotConnected, Refusal::kZero, out)) return kCallRan;
  return ktdb::LoadFuncs(out);
}

KTDB_FUNCTION(KTDROPFUNCS) {
  (void)argc;
  (void)argv;
  Result out(result);
  if (!EnterCall(Admission::kIdleNotConnected, Refusal::kZero, out)) return kCallRan;
  return ktdb::DropFuncs(out);
}

KTDB_FUNCTION(KTCONNECT) {
  const Arguments args(argc, argv);
  Result out(result);
  if (!EnterCall(Admission::kIdleNotConnected, Refusal::kZero, out)) return kCallRan;
  if (!args.PresentAll({1})) return LeaveCall(kIncorrectCall);
  return ktdb::Connect(args, out);
}

KTDB_FUNCTION(KTCONNECTRESET) {
  const Arguments args(argc, argv);
  Result out(result);
  if (!EnterCall(Admission::kIdleConnected, Refusal::kZero, out)) return kCallRan;
  return ktdb::ConnectReset(args, out);
}

KTDB_FUNCTION(KTSELECTCOLS) {
  const Arguments args(argc, argv);
  Result out(result);
  if (!EnterCall(Admission::kIdleConnected, Refusal::kZero, out)) return kCallRan;
  if (!args.PresentAll({1, 2})) return LeaveCall(kIncorrectCall);
  return ktdb::SelectCols(args, out);
}

KTDB_FUNCTION(KTSELECTDATA) {
  const Arguments args(argc, argv);
  Result out(result);
  if (!EnterCall(Admission::kIdleConnected, Refusal::kZero, out)) return kCallRan;
  if (!args.PresentAll({1, 2})) return LeaveCall(kIncorrectCall);
  return ktdb::SelectData(args, out);
}

KTDB_FUNCTION(KTSELECTFORM) {
  const Arguments args(argc, argv);
  Result out(result);
  if (!EnterCall(Admission::kIdleConnected, Refusal::kZero, out)) return kCallRan;
  if (!args.PresentAll({1, 2})) return LeaveCall(kIncorrectCall);
  return ktdb::SelectForm(args, out);
}

KTDB_FUNCTION(KTSELECTONE) {
  const Arguments args(argc, argv);
  Result out(result);
  if (!EnterCall(Admission::kIdleConnected, Refusal::kEmpty, out)) return kCallRan;
  out.SetEmpty();
  if (!args.PresentAll({1})) return LeaveCall(kIncorrectCall);
  return ktdb::SelectOne(args, out);
}

KTDB_FUNCTION(KTBATCH) {
  const Arguments args(argc, argv);
  Result out(result);
  if (!EnterCall(Admission::kIdleConnected, Refusal::kZero, out)) return kCallRan;
  if (!args.PresentAll({1, 2})) return LeaveCall(kIncorrectCall);
  return ktdb::Batch(args, out);
}

KTDB_FUNCTION(KTCURTIMESTAMP) {
  const Arguments args(argc, argv);
  Result out(result);
  if (!EnterCall(Admission::kIdleConnected, Refusal::kZero, out)) return kCallRan;
  out.SetEmpty();
  return ktdb::CurTimeStamp(args, out);
}

KTDB_FUNCTION(KTLOB2FILE) {
  const Arguments args(argc, argv);
  Result out(result);
  if (!EnterCall(Admission::kIdleConnected, Refusal::kEmpty, out)) return kCallRan;
  if (!args.PresentAll({1, 2, 3})) return LeaveCall(kIncorrectCall);
  return ktdb::Lob2File(args, out);
}

KTDB_FUNCTION(KTFILE2LOB) {
  const Arguments args(argc, argv);
  Result out(result);
  if (!EnterCall(Admission::kIdleConnected, Refusal::kEmpty, out)) return kCallRan;
  if (!args.PresentAll({1, 2, 3})) return LeaveCall(kIncorrectCall);
  return ktdb::File2Lob(args, out);
}

KTDB_FUNCTION(KTH) {
  const Arguments args(argc, argv);
  Result out(result);
  return ktdb::TaggedLine(args, out);
}

KTDB_FUNCTION(KTHTML) {
  const Arguments args(argc, argv);
  Result out(result);
  if (!EnterCall(Admission::kIdleConnected, Refusal::kZero, out)) return kCallRan;
  if (!args.PresentAll({1})) return LeaveCall(kIncorrectCall);
  return ktdb::Html(args, out);
}

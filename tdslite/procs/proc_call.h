// One call of a system procedure: where its messages and DONE tokens go.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "procs.h"

namespace tdslite::procs {

inline constexpr uint16_t kCmdExec = 0xE0;  // SQL Server's CurCmd for EXECUTE

// What every system procedure reports the same way: its messages, the end
// of a failed procedure, its RETURNSTATUS and DONEPROC, and a call refused
// before the procedure ran. The procedure families add their own
// parameters and results.
class ProcCall {
 public:
  ProcCall(std::string_view procedure, int line, ProcedureHost& host, ResultSink& sink)
      : procedure_(procedure), line_(line), host_(host), sink_(sink) {}

  ProcedureHost& host() { return host_; }
  ResultSink& sink() { return sink_; }
  const std::string& procedure() const { return procedure_; }
  // The number of the last error sent, 0 if none: the call's @@error.
  int last_error() const { return last_error_; }

  // A message of the procedure, raised at `line` of it.
  void Send(Message m, int line) {
    m.procedure = procedure_;
    m.line = line;
    if (m.severity > 10) last_error_ = m.number;
    sink_.Send(m);
  }

  // Ends the procedure after the error it sent: the raising statement's
  // DONEINPROC with the error bit, then RETURNSTATUS `status` and DONEPROC.
  int FailWithSent(int status) {
    Done in_proc;
    in_proc.kind = DoneKind::kDoneInProc;
    in_proc.status = kDoneError;
    sink_.Finish(in_proc);
    return Return(status);
  }

  int Return(int status) {
    sink_.ReturnStatus(status);
    Done d;
    d.kind = DoneKind::kDoneProc;
    d.current_command = kCmdExec;
    sink_.Finish(d);
    return last_error_;
  }

  // The call was refused before the procedure ran (argument binding and
  // conversion): the error, then the EXEC statement's DONE with the error
  // bit. `in_procedure`: the error names the procedure (line 0) rather than
  // the calling statement's line.
  int Refuse(Message m, bool in_procedure = false) {
    if (in_procedure) {
      Send(std::move(m), 0);
    } else {
      m.line = line_;
      last_error_ = m.number;
      sink_.Send(m);
    }
    Done d;
    d.status = kDoneError;
    d.current_command = kCmdExec;
    sink_.Finish(d);
    return last_error_;
  }

 private:
  std::string procedure_;
  int line_;
  ProcedureHost& host_;
  ResultSink& sink_;
  int last_error_ = 0;
};

}  // namespace tdslite::procs

// tdslite: a TDS 7.0-7.4 server over SQLite.
#include "tdslite/protocol/protocol.h"

int main(int argc, char** argv) {
  return tdslite::protocol::RunServer(argc, argv);
}

// The process-wide state of the large-object functions (declared, with its
// writers, in lob.h).
#include "lob/lob.h"

namespace ktdb {

std::array<char, kLob2FileNameSize> Lob2FileName = {};
std::array<char, kFile2LobNameSize> File2LobName = {};
std::array<BYTE, kPieceSize> PieceBuffer = {};
std::array<char, kConvertInputSize> ConvertInput = {};
std::array<BYTE, kTextPointerSize> TextPointer = {};
std::array<BYTE, kTextTimestampSize> TextTimestamp = {};

}  // namespace ktdb

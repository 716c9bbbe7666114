// Modem mode: the line waits on the modem's serial port and hands the modem
// to the telephony control for a call. The serial-port side arrives with the
// modem channel; until then a line in modem mode behaves as in telephony
// mode (the telephony line stays open, nothing more is journalled).
#include "line/line_controller.h"

namespace lw {

int32_t frmLine::OpenModemSide(int32_t result) {
  // Comes with the modem channel: on a failed open "Can't open comm without
  // TAPI"; otherwise the port number, the telephony line closed and shut
  // down, and the serial port opened with ModemPort and ModemCommandSet.
  return result;
}

void frmLine::CloseModemSide() {
  // Comes with the modem channel: the serial port closed, LineStat 1 and
  // the "CommDisconnect" journal line.
}

}  // namespace lw

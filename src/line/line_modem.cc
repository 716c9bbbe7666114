// Modem mode: the line waits on the modem's serial port and hands the modem
// to the telephony control for a call. The serial port is not driven yet:
// a line in modem mode keeps its telephony line open and behaves as in
// telephony mode.
#include "line/line_controller.h"

namespace lw {

// Leaves the result of opening the telephony line as it is.
int32_t frmLine::OpenModemSide(int32_t result) { return result; }

// Nothing to close: the serial port was not opened.
void frmLine::CloseModemSide() {}

}  // namespace lw

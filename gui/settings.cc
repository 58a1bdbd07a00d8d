// What the window remembers for its user from one run to the next: the
// output type last chosen in the save dialog, kept as the DWORD value
// "OutputType" of HKEY_CURRENT_USER\Software\Ledgerly.
#include <windows.h>

#include "gui/main_window.h"

namespace {

const char settings_key[] = "Software\\Ledgerly";
const char output_type_value[] = "OutputType";

}  // namespace

int remembered_output_type() {
  DWORD type = 0;
  DWORD size = sizeof type;
  LONG read = RegGetValueA(HKEY_CURRENT_USER, settings_key, output_type_value, RRF_RT_REG_DWORD,
                           nullptr, &type, &size);
  return read == ERROR_SUCCESS && type == output_type_workbook ? output_type_workbook
                                                               : output_type_csv;
}

void remember_output_type(int type) {
  DWORD value = static_cast<DWORD>(type);
  // Nothing to tell the user when it cannot be kept: the next start offers CSV.
  RegSetKeyValueA(HKEY_CURRENT_USER, settings_key, output_type_value, REG_DWORD, &value,
                  sizeof value);
}

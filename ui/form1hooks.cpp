// The main window's steps that belong to the files, the remote server, the help window and the
// IP dialog. Until those are wired in, the window starts on the defaults and closes without
// writing anything.
#include "engine/secondtick.h"
#include "ui/form1.h"

namespace tavoxa {

void TForm1::InitRemoteState() {}

void TForm1::LoadSettingsFile() {}

void TForm1::LoadConfiguration()
{
    ApplyDefaults(model_, clock_);
    RefreshView();
}

void TForm1::SaveConfiguration() {}

void TForm1::SaveSettingsFile() {}

void TForm1::RemoteCloseStep() {}

void TForm1::DestroyRemoteServer() {}

void TForm1::FormActivate() {}

void TForm1::Button10Click() {}

void TForm1::Button11Click() {}

void TForm1::Button12Click() {}

void TForm1::Button13Click() {}

void TForm1::CheckBox7Click() {}

}  // namespace tavoxa

// Settings dialog: credentials, upload and resize choices, and a login check.
#pragma once

class CSettingsDlg;

// Details dialog of one upload list entry: name, tags and description.
#pragma once

class CPicDetailsDlg;

// The application object: starts the main dialog and ends the program with it.
#pragma once

#include "framework/afxwin.h"

class CCrisisApp : public CWinApp {
  public:
    CCrisisApp();
    BOOL InitInstance() override;
};

// The one application object.
extern CCrisisApp theApp;

#include "ui/ShowMessage.h"

#include "ui/Application.h"

void ShowMessage(const Text& aMessage) { Application->MessageBox(aMessage, Application->TitleGet(), win::MB_OK); }

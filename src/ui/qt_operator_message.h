// The windows' side of the operator-message seam.
#pragma once

class QApplication;

// Shows every operator message as a QMessageBox without an owner window, modal to the
// application, with the caption, icon, buttons and default button asked for.
void InstallQtMessageResponder();

// Loads Qt's own Russian translation so that the message boxes' buttons read in Russian.
void LoadToolkitTranslation(QApplication& app);

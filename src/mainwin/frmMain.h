#pragma once
// The main window. It owns the application-wide error handler: every error
// that reaches a window procedure is shown here.
#include <exception>
#include <memory>

#include "mainwin/uBatchDocument.h"
#include "ui/Form.h"
#include "ui/ListView.h"

class TZEPHMain : public ui::TForm {
public:
    TZEPHMain();

    // Shows an EQVException in the details dialog, Kind 1 as a warning and
    // Kind 2 as information; Kind 0 and any other error end the application
    // after being shown.
    void ApplicationException(std::exception_ptr error);

    // The batch list and the batch document it shows.
    ui::TListView* lvFiles = nullptr;
    TBatchDocument& Batch() { return *batch_; }

    void actHelpContentsExecute();
    void actHelpOnTheWebExecute();
    void actHelpAboutExecute();

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
    bool FormKeyUp(WORD key, unsigned shift) override;

private:
    void FitList();
    std::unique_ptr<TBatchDocument> batch_;
};

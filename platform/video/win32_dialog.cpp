#include "platform/video/win32_dialog.h"

#include <windows.h>

namespace platform {
namespace {

class Win32DialogHost final : public DialogHost {
 public:
  Win32DialogHost(HWND dialog, DialogProc procedure) : dialog_(dialog), procedure_(procedure) {}

  void AddString(int controlId, const char* text) override {
    SendDlgItemMessageA(dialog_, controlId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
  }
  void SetCurSel(int controlId, int index) override {
    SendDlgItemMessageA(dialog_, controlId, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
  int GetCurSel(int controlId) override {
    return static_cast<int>(SendDlgItemMessageA(dialog_, controlId, CB_GETCURSEL, 0, 0));
  }
  void SetCheck(int controlId, bool checked) override {
    SendDlgItemMessageA(dialog_, controlId, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  bool GetCheck(int controlId) override {
    return SendDlgItemMessageA(dialog_, controlId, BM_GETCHECK, 0, 0) == BST_CHECKED;
  }
  void End(intptr_t result) override { EndDialog(dialog_, result); }

  intptr_t Call(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return procedure_(*this, message, wParam, lParam);
  }

 private:
  HWND dialog_;
  DialogProc procedure_;
};

// The procedure of the dialog being created. The creation parameter stays 0,
// as the shell's procedure expects, so the procedure travels here; modal
// dialogs of one thread nest, and the innermost one is being created.
thread_local DialogProc pendingProcedure = nullptr;

INT_PTR CALLBACK HostProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* host = reinterpret_cast<Win32DialogHost*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (message == WM_INITDIALOG) {
    if (!pendingProcedure) return FALSE;
    host = new Win32DialogHost(dialog, pendingProcedure);
    pendingProcedure = nullptr;
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(host));
    return host->Call(kDlgInit, wParam, lParam);
  }
  if (message == WM_NCDESTROY && host) {
    SetWindowLongPtrW(dialog, DWLP_USER, 0);
    delete host;
    return FALSE;
  }
  if (message == WM_COMMAND && host) return host->Call(kDlgCommand, wParam, lParam);
  return FALSE;
}

}  // namespace

intptr_t RunWin32Dialog(int resourceId, DialogProc procedure) {
  if (!procedure) return -1;
  HINSTANCE module = GetModuleHandleW(nullptr);
  const DialogProc outer = pendingProcedure;
  pendingProcedure = procedure;
  const INT_PTR result = DialogBoxParamW(module, MAKEINTRESOURCEW(resourceId), GetForegroundWindow(), HostProc, 0);
  pendingProcedure = outer;
  return result;
}

}  // namespace platform

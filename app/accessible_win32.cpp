// The main window's accessible object. The window is painted, not built from
// controls, so without it a screen reader finds an empty client area. Its
// texts come from the progress record and the formatting that painting uses,
// so what is spoken is what is shown.
#include "app/accessible_win32.h"

#include <oleacc.h>

#include <atomic>
#include <new>
#include <string>

#include "app/paint_win32.h"
#include "app/progress.h"

namespace {

// One progress bar with no children. COM requires the vtable; everything
// else is plain. Screen readers running inside the process may hold it past
// the window's end and call it from their own threads: hence the atomic
// count, and the window handle that turns null when the window is gone.
struct ProgressAccessible final : IAccessible {
  std::atomic<ULONG> references{1};
  std::atomic<HWND> window;

  explicit ProgressAccessible(HWND shown) : window(shown) {}

  // S_OK for the bar itself; E_INVALIDARG for any child; E_FAIL once the window is gone.
  HRESULT Check(const VARIANT& child) const {
    if (window.load() == nullptr) return E_FAIL;
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF ? S_OK : E_INVALIDARG;
  }

  static HRESULT Text(HRESULT status, const std::wstring& text, BSTR* out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (FAILED(status)) return status;
    *out = SysAllocString(text.c_str());
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  static HRESULT Absent(HRESULT status, BSTR* out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    return FAILED(status) ? status : S_FALSE;
  }
  static HRESULT Number(HRESULT status, LONG number, VARIANT* out) {
    if (out == nullptr) return E_POINTER;
    out->vt = VT_EMPTY;
    if (FAILED(status)) return status;
    out->vt = VT_I4;
    out->lVal = number;
    return S_OK;
  }
  HRESULT Nothing(VARIANT* out) const {
    if (out == nullptr) return E_POINTER;
    out->vt = VT_EMPTY;
    return window.load() ? S_FALSE : E_FAIL;
  }
  HRESULT Refused() const { return window.load() ? DISP_E_MEMBERNOTFOUND : E_FAIL; }

  static double Fraction() {
    const ProgressState& state = SharedProgressState();
    return ProgressFraction(state.received.load(kRelaxed), state.total.load(kRelaxed));
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
    if (out == nullptr) return E_POINTER;
    const bool ours =
        id == __uuidof(IUnknown) || id == __uuidof(IDispatch) || id == __uuidof(IAccessible);
    *out = ours ? static_cast<IAccessible*>(this) : nullptr;
    if (!ours) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references;
    if (left == 0) delete this;
    return left;
  }

  // No type information: readers call IAccessible directly.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return count ? S_OK : E_POINTER;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    if (parent == nullptr) return E_POINTER;
    *parent = nullptr;
    HWND shown = window.load();
    if (shown == nullptr) return E_FAIL;
    return AccessibleObjectFromWindow(shown, static_cast<DWORD>(OBJID_WINDOW), __uuidof(IDispatch),
                                      reinterpret_cast<void**>(parent));
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return window.load() ? S_OK : E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT, IDispatch** child) override {
    if (child) *child = nullptr;
    return window.load() ? E_INVALIDARG : E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    return Text(Check(child), ShownProductName(), name);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    return Text(Check(child), FormatPercentText(Fraction()), value);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
    const double speed = SharedProgressState().bytesPerSecond.load(kRelaxed);
    return Text(Check(child), FormatSpeedText(speed), description);
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    return Number(Check(child), ROLE_SYSTEM_PROGRESSBAR, role);
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    const LONG visibility = IsWindowVisible(window.load()) ? 0 : STATE_SYSTEM_INVISIBLE;
    return Number(Check(child), STATE_SYSTEM_READONLY | visibility, state);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
    return Absent(Check(child), help);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
    if (topic) *topic = 0;
    return Absent(Check(child), file);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
    return Absent(Check(child), shortcut);
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
    return Absent(Check(child), action);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override { return Nothing(focus); }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
    return Nothing(selection);
  }
  HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                        VARIANT child) override {
    if (!left || !top || !width || !height) return E_POINTER;
    if (const HRESULT status = Check(child); FAILED(status)) return status;
    HWND shown = window.load();
    RECT client{};
    if (!GetClientRect(shown, &client)) return E_FAIL;
    POINT origin{0, 0};
    ClientToScreen(shown, &origin);
    *left = origin.x, *top = origin.y, *width = client.right, *height = client.bottom;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* hit) override {
    HWND shown = window.load();
    if (hit == nullptr) return E_POINTER;
    hit->vt = VT_EMPTY;
    if (shown == nullptr) return E_FAIL;
    POINT at{x, y};
    RECT client{};
    GetClientRect(shown, &client);
    if (!ScreenToClient(shown, &at) || !PtInRect(&client, at)) return S_FALSE;
    hit->vt = VT_I4;
    hit->lVal = CHILDID_SELF;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE accNavigate(LONG, VARIANT, VARIANT* end) override {
    return Nothing(end);  // no children and no siblings of our own
  }
  // Nothing to select, do or change.
  HRESULT STDMETHODCALLTYPE accSelect(LONG, VARIANT) override { return Refused(); }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT) override { return Refused(); }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return Refused(); }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return Refused(); }
};

// The window's own reference, and whether the window is being destroyed. UI
// thread only.
ProgressAccessible* accessible = nullptr;
bool windowGone = false;

}  // namespace

LRESULT AnswerGetObject(HWND window, WPARAM wParam, LPARAM lParam) {
  // Compared as 32 bits: on 64-bit Windows lParam may come sign-extended or not.
  // From WM_DESTROY on, a reader gets the system's answer: no new object.
  if (windowGone || static_cast<DWORD>(lParam) != static_cast<DWORD>(OBJID_CLIENT)) {
    return DefWindowProcW(window, WM_GETOBJECT, wParam, lParam);
  }
  if (accessible == nullptr) {
    accessible = new (std::nothrow) ProgressAccessible(window);
    if (accessible == nullptr) return DefWindowProcW(window, WM_GETOBJECT, wParam, lParam);
  }
  return LresultFromObject(__uuidof(IAccessible), wParam, static_cast<IAccessible*>(accessible));
}

void RaiseValueChange(HWND window) {
  NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, window, OBJID_CLIENT, CHILDID_SELF);
}

void DisconnectAccessible() {
  windowGone = true;
  if (accessible != nullptr) {
    accessible->window.store(nullptr);
    accessible->Release();
    accessible = nullptr;
  }
}

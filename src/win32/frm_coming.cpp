#include "win32/frm_coming.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <exception>

#include "front/help_topics.h"
#include "front/shown_text.h"
#include "messages/messages.h"
#include "win32/text.h"

namespace lapse::win32 {

namespace {

// The client area as designed, in twips: 720 by 464 pixels at 96 DPI, so
// that the window with its frame fits a screen of 800 by 600.
constexpr Twips kDesigned{2400, 1800, 10800, 6960};
// The smallest client area the user can drag the window to.
constexpr int kLeastWidth = 7200;
constexpr int kLeastHeight = 4800;

// How a control follows the window's size: the share of the added width
// and height that its left, top, width and height take.
struct Anchor {
  const char* name;
  double left;
  double top;
  double width;
  double height;
};

// The list and the previews share the added height; the buttons keep to the
// bottom; the previews share the added width.
constexpr std::array<Anchor, 11> kAnchors{{
    {"lblLookAt", 0, 0, 0, 0},
    {"dtpLookAt", 0, 0, 0, 0},
    {"lblStatus", 0, 0, 1, 0},
    {"lvwComing", 0, 0, 1, 0.5},
    {"lblNow", 0, 0.5, 0.5, 0},
    {"lblOnDay", 0.5, 0.5, 0.5, 0},
    {"lstNow", 0, 0.5, 0.5, 0.5},
    {"lstOnDay", 0.5, 0.5, 0.5, 0.5},
    {"cmdOpen", 0, 1, 0, 0},
    {"cmdClose", 0, 1, 0, 0},
    {"lblNote", 0, 1, 1, 0},
}};

// The list's columns, in twips; the content takes the rest of the row.
constexpr std::array<int, front::kComingColumns> kColumnWidths{1140, 2040, 1680, 540, 720, 4140};

// A fault, a line that goes and a line that appears, in colour as well as
// in words or marks.
constexpr COLORREF kFaultColour = RGB(192, 0, 0);
constexpr COLORREF kGoesColour = RGB(192, 0, 0);
constexpr COLORREF kAppearsColour = RGB(0, 112, 0);

// Texts that name pages: an & in them is a character, not an access key.
constexpr DWORD kText = SS_LEFT | SS_NOPREFIX;
constexpr DWORD kPane = WS_TABSTOP | WS_BORDER | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT |
                        LBS_OWNERDRAWFIXED | LBS_HASSTRINGS;

// A line of a page: UTF-8 where it is valid UTF-8, else the 8-bit code page,
// as the log's own window reads its lines.
std::wstring LineText(std::string_view bytes) {
  std::wstring text;
  for (const front::TextRun& run : front::TextToShow(bytes, false).runs) {
    const UINT codePage = run.encoding == front::TextEncoding::Utf8 ? CP_UTF8 : CP_ACP;
    const int size = MultiByteToWideChar(codePage, 0, run.bytes.data(),
                                         static_cast<int>(run.bytes.size()), nullptr, 0);
    std::wstring part(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(codePage, 0, run.bytes.data(), static_cast<int>(run.bytes.size()),
                        part.data(), size);
    text += part;
  }
  return text;
}

SYSTEMTIME SystemTimeOf(text::Today day) {
  const std::chrono::year_month_day date{day};
  SYSTEMTIME time{};
  time.wYear = static_cast<WORD>(static_cast<int>(date.year()));
  time.wMonth = static_cast<WORD>(static_cast<unsigned>(date.month()));
  time.wDay = static_cast<WORD>(static_cast<unsigned>(date.day()));
  return time;
}

text::Today DayOf(const SYSTEMTIME& time) {
  return text::Today{std::chrono::year{time.wYear} / std::chrono::month{time.wMonth} /
                     std::chrono::day{time.wDay}};
}

// A preview line as a list box item's data: its number and its mark.
LPARAM ItemData(std::uint64_t number, front::PreviewMark mark) {
  return static_cast<LPARAM>((number << 2U) | static_cast<std::uint64_t>(mark));
}

PaneLine LineOfItem(LPARAM data, std::wstring text) {
  const auto bits = static_cast<std::uint64_t>(data);
  return {bits >> 2U, static_cast<front::PreviewMark>(bits & 3U), std::move(text)};
}

std::wstring MarkOf(front::PreviewMark mark) {
  switch (mark) {
    case front::PreviewMark::Goes:
      return L"-";
    case front::PreviewMark::Appears:
      return L"+";
    case front::PreviewMark::Kept:
      break;
  }
  return L" ";
}

void FillPane(HWND pane, const std::vector<front::PreviewLine>& lines, bool onDay,
              std::uint64_t atLine) {
  SendMessageW(pane, WM_SETREDRAW, FALSE, 0);
  SendMessageW(pane, LB_RESETCONTENT, 0, 0);
  int top = -1;
  size_t longest = 0;
  for (const front::PreviewLine& line : lines) {
    if (onDay && line.mark == front::PreviewMark::Goes) {
      continue;
    }
    const std::wstring text = LineText(line.text);
    longest = std::max(longest, text.size());
    const auto index = SendMessageW(pane, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (index < 0) {
      break;
    }
    SendMessageW(pane, LB_SETITEMDATA, static_cast<WPARAM>(index),
                 ItemData(line.number, line.mark));
    if (top < 0 && line.number >= atLine) {
      top = static_cast<int>(index);
    }
  }
  // The tag's line comes into view with a few lines above it.
  SendMessageW(pane, LB_SETTOPINDEX, static_cast<WPARAM>(std::max(top - 3, 0)), 0);
  HDC context = GetDC(pane);
  const auto previous =
      SelectObject(context, reinterpret_cast<HFONT>(SendMessageW(pane, WM_GETFONT, 0, 0)));
  TEXTMETRICW metrics{};
  GetTextMetricsW(context, &metrics);
  SelectObject(context, previous);
  ReleaseDC(pane, context);
  SendMessageW(pane, LB_SETHORIZONTALEXTENT,
               static_cast<WPARAM>((longest + 10) * static_cast<size_t>(metrics.tmAveCharWidth)),
               0);
  SendMessageW(pane, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(pane, nullptr, TRUE);
}

}  // namespace

frmComing::frmComing(front::ComingLogic logic, ComingServices services, HWND owner)
    : logic_(std::move(logic)), services_(services), owner_(owner) {
  INITCOMMONCONTROLSEX classes{sizeof classes, ICC_LISTVIEW_CLASSES | ICC_DATE_CLASSES};
  InitCommonControlsEx(&classes);
  Create(L"frmComing", Wide(front::ComingTitle(logic_.Folder())),
         WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MAXIMIZEBOX, 0, kDesigned, owner);
  MakeMarkFonts();
  CreateControls();
  Layout(DpiOf(Handle()));
}

frmComing::~frmComing() {
  for (HFONT font : {struckFont_, boldFont_}) {
    if (font != nullptr) {
      DeleteObject(font);
    }
  }
}

void frmComing::CreateControls() {
  // Created in tab order: the date, the list, the previews, the buttons.
  AddControl("lblLookAt", WC_STATICW, Wide(front::LookAtLabel()), SS_LEFT, -1,
             {120, 150, 1800, 255});
  AddControl("dtpLookAt", DATETIMEPICK_CLASSW, L"", WS_TABSTOP | DTS_SHORTDATEFORMAT, kDtpLookAt,
             {1920, 120, 1800, 315});
  AddControl("lvwComing", WC_LISTVIEWW, L"",
             WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, kLvwComing,
             {120, 555, 10560, 2700});
  AddControl("lblNow", WC_STATICW, Wide(front::NowHeading()), kText, -1, {120, 3375, 5220, 255});
  AddControl("lstNow", WC_LISTBOXW, L"", kPane, kLstNow, {120, 3690, 5220, 2430});
  AddControl("lblOnDay", WC_STATICW, L"", kText, -1, {5460, 3375, 5220, 255});
  AddControl("lstOnDay", WC_LISTBOXW, L"", kPane, kLstOnDay, {5460, 3690, 5220, 2430});
  AddControl("cmdOpen", WC_BUTTONW, Wide(front::OpenInEditorLabel()), WS_TABSTOP | BS_DEFPUSHBUTTON,
             IDOK, {120, 6465, 1575, 375});
  AddControl("cmdClose", WC_BUTTONW, Wide(front::CloseLabel()), WS_TABSTOP, IDCANCEL,
             {1800, 6465, 1335, 375});
  AddControl("lblStatus", WC_STATICW, L"", kText | SS_ENDELLIPSIS, -1, {3840, 150, 6840, 255});
  AddControl("lblNote", WC_STATICW, L"", kText | SS_ENDELLIPSIS, -1, {3240, 6525, 7440, 255});
  AddColumns();
  HWND picker = ControlNamed("dtpLookAt");
  SYSTEMTIME today = SystemTimeOf(logic_.Today());
  SendMessageW(picker, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&today));
  // Where the short date shows the year in two digits, the picker still
  // says which century is meant.
  SendMessageW(picker, DTM_SETFORMATW, 0, reinterpret_cast<LPARAM>(L"yyyy'-'MM'-'dd"));
}

void frmComing::AddColumns() {
  HWND list = ControlNamed("lvwComing");
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
               LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_LABELTIP);
  const UINT dpi = DpiOf(Handle());
  for (size_t column = 0; column < front::kComingColumns; ++column) {
    std::wstring heading = Wide(front::ComingColumnHeading(column));
    LVCOLUMNW entry{};
    entry.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    // The line number reads best against the right edge.
    entry.fmt = column == 3 ? LVCFMT_RIGHT : LVCFMT_LEFT;
    entry.cx = Pixels(kColumnWidths[column], dpi);
    entry.pszText = heading.data();
    SendMessageW(list, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&entry));
  }
}

void frmComing::MakeMarkFonts() {
  LOGFONTW font{};
  GetObjectW(font_, sizeof font, &font);
  for (HFONT old : {struckFont_, boldFont_}) {
    if (old != nullptr) {
      DeleteObject(old);
    }
  }
  LOGFONTW struck = font;
  struck.lfStrikeOut = TRUE;
  struckFont_ = CreateFontIndirectW(&struck);
  LOGFONTW bold = font;
  bold.lfWeight = FW_BOLD;
  boldFont_ = CreateFontIndirectW(&bold);
}

void frmComing::Load() {
  logic_.Load();
  FillList();
  // The first row shows at once, so that the preview is never empty while
  // there is something to show.
  SelectRow(logic_.List().rows.empty() ? -1 : 0);
}

void frmComing::FillList() {
  HWND list = ControlNamed("lvwComing");
  filling_ = true;
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
  const auto& rows = logic_.List().rows;
  for (size_t row = 0; row < rows.size(); ++row) {
    for (size_t column = 0; column < front::kComingColumns; ++column) {
      std::wstring text = LineText(front::ComingCell(rows[row], column, logic_.Today()));
      LVITEMW item{};
      item.mask = LVIF_TEXT;
      item.iItem = static_cast<int>(row);
      item.iSubItem = static_cast<int>(column);
      item.pszText = text.data();
      SendMessageW(list, column == 0 ? LVM_INSERTITEMW : LVM_SETITEMTEXTW, row,
                   reinterpret_cast<LPARAM>(&item));
    }
  }
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  filling_ = false;
  ShowStatus();
}

void frmComing::ShowStatus() {
  std::string status = front::NoRowsText(logic_.List(), logic_.Folder());
  if (status.empty() && !logic_.List().leftOut.empty()) {
    const batch::PageLeftOut& first = logic_.List().leftOut.front();
    status = messages::LeftOut(first.name, first.report);
  }
  SetWindowTextW(ControlNamed("lblStatus"), Wide(status).c_str());
}

void frmComing::SelectRow(int row) {
  HWND list = ControlNamed("lvwComing");
  LVITEMW state{};
  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  state.state = row >= 0 ? LVIS_SELECTED | LVIS_FOCUSED : 0;
  // Setting the state sends the change that the list's own clicks send.
  SendMessageW(list, LVM_SETITEMSTATE,
               row >= 0 ? static_cast<WPARAM>(row) : static_cast<WPARAM>(-1),
               reinterpret_cast<LPARAM>(&state));
  if (row >= 0) {
    SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
  } else {
    logic_.Select(std::nullopt);
    ShowPreview();
  }
}

void frmComing::ShowPreview() {
  SetWindowTextW(ControlNamed("lblOnDay"), Wide(front::OnDayHeading(logic_.LookAt())).c_str());
  const std::optional<front::Preview>& preview = logic_.Shown();
  static const std::vector<front::PreviewLine> kNone;
  const std::vector<front::PreviewLine>& lines = preview ? preview->lines : kNone;
  const std::uint64_t line = logic_.SelectedLine();
  FillPane(ControlNamed("lstNow"), lines, false, line);
  FillPane(ControlNamed("lstOnDay"), lines, true, line);
  SetWindowTextW(ControlNamed("lblNote"),
                 preview ? Wide(front::PreviewNote(*preview)).c_str() : L"");
  EnableWindow(ControlNamed("cmdOpen"), logic_.SelectedFile() ? TRUE : FALSE);
}

std::vector<PaneLine> frmComing::PaneLines(int pane) const {
  HWND list = GetDlgItem(Handle(), pane);
  std::vector<PaneLine> lines;
  const auto count = SendMessageW(list, LB_GETCOUNT, 0, 0);
  for (LRESULT index = 0; index < count; ++index) {
    std::wstring text(static_cast<size_t>(SendMessageW(list, LB_GETTEXTLEN, index, 0)) + 1, L'\0');
    text.resize(static_cast<size_t>(
        SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()))));
    lines.push_back(
        LineOfItem(SendMessageW(list, LB_GETITEMDATA, static_cast<WPARAM>(index), 0), text));
  }
  return lines;
}

void frmComing::OpenInEditor() {
  const std::optional<std::filesystem::path> file = logic_.SelectedFile();
  if (!file) {
    return;
  }
  // notepad takes no line to start at: the page opens at its top.
  if (!services_.editor.Open(*file)) {
    services_.prompts.Warn(Handle(), Wide(messages::CannotOpenPage(*file)));
  }
}

void frmComing::DayPicked(const SYSTEMTIME& picked) {
  const text::Today day = DayOf(picked);
  if (day == logic_.LookAt()) {
    return;
  }
  logic_.LookAt(day);
  ShowPreview();
}

void frmComing::PlaceForSize(int width, int height) {
  const UINT dpi = DpiOf(Handle());
  const int addedWidth = width - Pixels(kDesigned.width, dpi);
  const int addedHeight = height - Pixels(kDesigned.height, dpi);
  HDWP moves = BeginDeferWindowPos(static_cast<int>(kAnchors.size()));
  for (const Anchor& anchor : kAnchors) {
    const auto control = std::find_if(
        Controls().begin(), Controls().end(),
        [&anchor](const Control& c) { return std::string_view(c.name) == anchor.name; });
    if (control == Controls().end()) {
      continue;
    }
    const RECT designed = PixelRect(control->place, dpi);
    const int left = designed.left + static_cast<int>(anchor.left * addedWidth);
    const int top = designed.top + static_cast<int>(anchor.top * addedHeight);
    // The right and bottom edges are rounded the same way as the next
    // control's left and top, so that shared edges keep their gap.
    const int right = designed.right + static_cast<int>((anchor.left + anchor.width) * addedWidth);
    const int bottom =
        designed.bottom + static_cast<int>((anchor.top + anchor.height) * addedHeight);
    if (moves != nullptr) {
      moves = DeferWindowPos(moves, control->handle, nullptr, left, top, right - left, bottom - top,
                             SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  if (moves != nullptr) {
    EndDeferWindowPos(moves);
  }
}

void frmComing::DrawPaneLine(const DRAWITEMSTRUCT& item) const {
  if (item.itemID == static_cast<UINT>(-1)) {
    return;
  }
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  std::wstring text(
      static_cast<size_t>(SendMessageW(item.hwndItem, LB_GETTEXTLEN, item.itemID, 0)) + 1, L'\0');
  text.resize(static_cast<size_t>(
      SendMessageW(item.hwndItem, LB_GETTEXT, item.itemID, reinterpret_cast<LPARAM>(text.data()))));
  const PaneLine line =
      LineOfItem(SendMessageW(item.hwndItem, LB_GETITEMDATA, item.itemID, 0), std::move(text));
  HDC context = item.hDC;
  FillRect(context, &item.rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  COLORREF colour = GetSysColor(COLOR_WINDOWTEXT);
  HFONT font = font_;
  if (line.mark == front::PreviewMark::Goes) {
    colour = kGoesColour;
    font = struckFont_;
  } else if (line.mark == front::PreviewMark::Appears) {
    colour = kAppearsColour;
    font = boldFont_;
  }
  SetTextColor(context, selected ? GetSysColor(COLOR_HIGHLIGHTTEXT) : colour);
  SetBkMode(context, TRANSPARENT);
  // The gutter: the line's number in the page as it is now, and its mark.
  const UINT dpi = DpiOf(Handle());
  RECT gutter = item.rcItem;
  gutter.left += Pixels(60, dpi);
  gutter.right = gutter.left + Pixels(600, dpi);
  const auto previous = SelectObject(context, font_);
  const std::wstring number = std::to_wstring(line.number);
  DrawTextW(context, number.c_str(), static_cast<int>(number.size()), &gutter,
            DT_RIGHT | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  RECT mark = gutter;
  mark.left = gutter.right + Pixels(60, dpi);
  mark.right = mark.left + Pixels(180, dpi);
  const std::wstring markText = MarkOf(line.mark);
  DrawTextW(context, markText.c_str(), 1, &mark,
            DT_CENTER | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  RECT rest = item.rcItem;
  rest.left = mark.right + Pixels(60, dpi);
  SelectObject(context, font);
  DrawTextW(context, line.text.c_str(), static_cast<int>(line.text.size()), &rest,
            DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_EXPANDTABS);
  SelectObject(context, previous);
  if ((item.itemState & ODS_FOCUS) != 0) {
    DrawFocusRect(context, &item.rcItem);
  }
}

bool frmComing::PreTranslate(MSG& message) {
  return ShowContextHelp(message, services_.help, owner_, front::topic::kComing);
}

LRESULT frmComing::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  // Nothing the window does may end the program's loop with an exception:
  // what goes wrong is said, and the window stays.
  try {
    return Respond(message, wParam, lParam);
  } catch (const std::exception& error) {
    services_.prompts.Warn(Handle(), Wide(messages::WindowFailed(error.what())));
  } catch (...) {
    services_.prompts.Warn(Handle(), Wide(messages::WindowFailed({})));
  }
  return 0;
}

LRESULT frmComing::Respond(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      Command(LOWORD(wParam));
      return 0;
    case WM_NOTIFY:
      return Notified(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_SIZE:
      PlaceForSize(LOWORD(lParam), HIWORD(lParam));
      return 0;
    case WM_GETMINMAXINFO: {
      auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
      RECT least = PixelRect({0, 0, kLeastWidth, kLeastHeight}, DpiOf(Handle()));
      AdjustWindowRectEx(&least, static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_STYLE)), FALSE,
                         static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_EXSTYLE)));
      limits->ptMinTrackSize = {least.right - least.left, least.bottom - least.top};
      return 0;
    }
    case WM_MEASUREITEM: {
      // The panes' lines are as high as the font's.
      auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      HDC context = GetDC(Handle());
      const auto previous = SelectObject(context, font_);
      TEXTMETRICW metrics{};
      GetTextMetricsW(context, &metrics);
      SelectObject(context, previous);
      ReleaseDC(Handle(), context);
      measure->itemHeight = static_cast<UINT>(metrics.tmHeight + metrics.tmExternalLeading);
      return TRUE;
    }
    case WM_DRAWITEM:
      DrawPaneLine(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_DPICHANGED: {
      const LRESULT result = Window::OnMessage(message, wParam, lParam);
      MakeMarkFonts();
      for (const char* pane : {"lstNow", "lstOnDay"}) {
        MEASUREITEMSTRUCT measure{};
        Respond(WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&measure));
        SendMessageW(ControlNamed(pane), LB_SETITEMHEIGHT, 0, measure.itemHeight);
      }
      return result;
    }
    case WM_CLOSE:
      Hide();
      return 0;
    default:
      return Window::OnMessage(message, wParam, lParam);
  }
}

LRESULT frmComing::Notified(const NMHDR& header) {
  if (header.idFrom == kLvwComing) {
    switch (header.code) {
      case LVN_ITEMCHANGED: {
        const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
        if (!filling_ && (change.uChanged & LVIF_STATE) != 0 &&
            (change.uNewState & LVIS_SELECTED) != (change.uOldState & LVIS_SELECTED)) {
          const auto selected = SendMessageW(header.hwndFrom, LVM_GETNEXTITEM,
                                             static_cast<WPARAM>(-1), LVNI_SELECTED);
          logic_.Select(selected >= 0 ? std::optional<std::size_t>(static_cast<size_t>(selected))
                                      : std::nullopt);
          ShowPreview();
        }
        return 0;
      }
      case NM_DBLCLK:
        OpenInEditor();
        return 0;
      case NM_CUSTOMDRAW: {
        // Rows that stand in the way of a run come first, in the fault's
        // colour; their "In" column names the fault.
        auto& draw = const_cast<NMLVCUSTOMDRAW&>(reinterpret_cast<const NMLVCUSTOMDRAW&>(header));
        if (draw.nmcd.dwDrawStage == CDDS_PREPAINT) {
          return CDRF_NOTIFYITEMDRAW;
        }
        if (draw.nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
          const auto row = static_cast<size_t>(draw.nmcd.dwItemSpec);
          const auto& rows = logic_.List().rows;
          if (row < rows.size() && rows[row].fault != front::ComingFault::None) {
            draw.clrText = kFaultColour;
          }
        }
        return CDRF_DODEFAULT;
      }
      default:
        return 0;
    }
  }
  if (header.idFrom == kDtpLookAt && header.code == DTN_DATETIMECHANGE) {
    const auto& change = reinterpret_cast<const NMDATETIMECHANGE&>(header);
    if (change.dwFlags == GDT_VALID) {
      DayPicked(change.st);
    }
  }
  return 0;
}

void frmComing::Command(int id) {
  switch (id) {
    case IDOK:
      // Enter on Close closes; anywhere else it opens the selected page.
      if (FocusedButton({IDCANCEL})) {
        Hide();
        return;
      }
      OpenInEditor();
      return;
    case IDCANCEL:
      Hide();
      return;
    default:
      return;
  }
}

}  // namespace lapse::win32

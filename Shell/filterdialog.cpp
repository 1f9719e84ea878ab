// The rules dialog.
#include "filterdialog.h"

#include "dialogs.h"
#include "resource.h"

namespace shell {
namespace {

constexpr char kHint[] =
    "Rules on one field: a record shows when any of them matches; on different fields: when each field does. "
    "\"is not\" hides what it matches. '*' stands for any text; letter case does not matter.";

struct Editing {
    const char* title;
    TraceFilter rules;
};

std::string RuleText(const FilterRule& r) {
    return std::string(FieldName(r.field)) + (r.show ? " is " : " is not ") + r.value;
}

void ListRules(HWND dialog, const TraceFilter& rules) {
    HWND list = ::GetDlgItem(dialog, IDC_FILTER_RULES);
    ::SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (const FilterRule& r : rules.Rules())
        ::SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(RuleText(r).c_str()));
}

void AddRule(HWND dialog, Editing* e) {
    HWND value = ::GetDlgItem(dialog, IDC_FILTER_VALUE);
    std::string text(static_cast<size_t>(::GetWindowTextLengthA(value)) + 1, '\0');
    text.resize(static_cast<size_t>(::GetWindowTextA(value, text.data(), static_cast<int>(text.size()))));
    if (text.empty()) return;
    FilterRule rule;
    rule.field = static_cast<FilterField>(::SendDlgItemMessageA(dialog, IDC_FILTER_FIELD, CB_GETCURSEL, 0, 0));
    rule.show = ::SendDlgItemMessageA(dialog, IDC_FILTER_RELATION, CB_GETCURSEL, 0, 0) == 0;
    rule.value = text;
    e->rules.Add(rule);
    ListRules(dialog, e->rules);
    ::SetWindowTextA(value, "");
}

INT_PTR CALLBACK RulesProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* e = reinterpret_cast<Editing*>(::GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        e = reinterpret_cast<Editing*>(lParam);
        ::SetWindowTextA(dialog, e->title);
        for (int i = 0; i < kFilterFieldCount; ++i)
            ::SendDlgItemMessageA(dialog, IDC_FILTER_FIELD, CB_ADDSTRING, 0,
                                  reinterpret_cast<LPARAM>(FieldName(static_cast<FilterField>(i))));
        for (const char* relation : {"is", "is not"})
            ::SendDlgItemMessageA(dialog, IDC_FILTER_RELATION, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(relation));
        ::SendDlgItemMessageA(dialog, IDC_FILTER_FIELD, CB_SETCURSEL, static_cast<WPARAM>(FilterField::Class), 0);
        ::SendDlgItemMessageA(dialog, IDC_FILTER_RELATION, CB_SETCURSEL, 0, 0);
        ::SetDlgItemTextA(dialog, IDC_FILTER_HINT, kHint);
        ListRules(dialog, e->rules);
        CentreOver(dialog, ::GetParent(dialog));
        return TRUE;
    }
    case WM_COMMAND:
        if (!e) break;
        switch (LOWORD(wParam)) {
        case IDC_FILTER_ADD: AddRule(dialog, e); return TRUE;
        case IDC_FILTER_REMOVE: {
            LRESULT at = ::SendDlgItemMessageA(dialog, IDC_FILTER_RULES, LB_GETCURSEL, 0, 0);
            if (at == LB_ERR) return TRUE;
            std::vector<FilterRule> rules = e->rules.Rules();
            rules.erase(rules.begin() + at);
            e->rules = TraceFilter(std::move(rules));
            ListRules(dialog, e->rules);
            return TRUE;
        }
        case IDC_FILTER_RESET:
            e->rules.Clear();
            ListRules(dialog, e->rules);
            return TRUE;
        case IDOK:
            // A rule typed but not added yet is what the user meant to add.
            AddRule(dialog, e);
            ::EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL: ::EndDialog(dialog, IDCANCEL); return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

bool EditRules(HINSTANCE instance, HWND owner, const char* title, TraceFilter* rules) {
    Editing editing{title, *rules};
    if (::DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_FILTER), owner, RulesProc, reinterpret_cast<LPARAM>(&editing)) !=
        IDOK)
        return false;
    *rules = editing.rules;
    return true;
}

}  // namespace shell

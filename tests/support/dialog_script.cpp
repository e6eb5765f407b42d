#include "dialog_script.h"

namespace lumba_test {

DialogScript::DialogScript(std::vector<int> answers) : answers_(std::move(answers))
{
    replaced_ = set_dialog_answerer([this](const DialogRequest &request) {
        asked_.push_back(request);
        if (on_shown) on_shown(request);
        const std::size_t n = asked_.size() - 1;
        return n < answers_.size() ? answers_[n] : DIALOG_LEAVE;
    });
}

DialogScript::~DialogScript()
{
    set_dialog_answerer(std::move(replaced_));
}

} // namespace lumba_test

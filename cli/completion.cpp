#include "completion.h"

#include "codec.h"
#include "zemctl.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <set>

namespace zemctl {

const char *const kBashCompletion
    = R"bash(# bash completion for zemctl, printed by `zemctl --completion bash`. zemctl
# answers each completion from its own parser (zemctl __complete LINE TOKEN),
# so the words follow its subcommands, options and records as they are.
_zemctl()
{
    local program=${COMP_WORDS[0]/#\~/$HOME} cur=${COMP_WORDS[COMP_CWORD]}
    local -a answer
    mapfile -t answer < <("$program" __complete "${COMP_LINE:0:COMP_POINT}" "$cur" 2>/dev/null)
    COMPREPLY=("${answer[@]:1}")
    case ${answer[0]} in
    files)
        COMPREPLY=()
        if declare -F _filedir >/dev/null; then
            _filedir
        else
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        fi
        ;;
    nospace) compopt -o nospace 2>/dev/null ;;
    esac
}
complete -F _zemctl zemctl
)bash";

namespace {

using Words = std::vector<std::string>;

struct Answer
{
    const char *kind = "words";
    Words words;
};

// The options the parser takes at `app`: its own, and those above it for as
// long as each subcommand falls through to its parent.
std::vector<const CLI::Option *> optionsAt(const CLI::App *app, bool hiddenToo)
{
    std::vector<const CLI::Option *> options;
    for (; app; app = app->get_fallthrough() ? app->get_parent() : nullptr)
        for (const CLI::Option *o : app->get_options())
            if (o->nonpositional() && (hiddenToo || !o->get_group().empty()))
                options.push_back(o);
    return options;
}

const CLI::Option *findOption(const CLI::App *app, const std::string &name)
{
    for (const CLI::Option *o : optionsAt(app, true))
        if (o->check_name(name))
            return o;
    return nullptr;
}

const CLI::App *findSubcommand(const CLI::App *app, const std::string &name)
{
    for (const CLI::App *sub : app->get_subcommands([](const CLI::App *) { return true; }))
        if (sub->check_name(name))
            return sub;
    return nullptr;
}

bool namesFiles(const CLI::Option &o)
{
    const std::string type = o.get_type_name();
    const std::string kind = o.get_positional() ? o.get_name() : type.substr(0, type.find(':'));
    return kind == "FILE" || kind == "PHOTO";
}

// An option's value: its choices as its validator describes them ("{a,b}",
// a mapping's "{a->1,b->2}"), or a file; `prefix` is "--option=" when the
// value is in the same word.
Answer optionValues(const CLI::Option &o, const std::string &prefix)
{
    Answer answer;
    if (namesFiles(o)) {
        answer.kind = "files";
        return answer;
    }
    const std::string type = o.get_type_name();
    const std::size_t open = type.find(":{");
    const std::size_t close = type.find('}', open);
    if (open == std::string::npos || close == std::string::npos)
        return answer;
    const std::string list = type.substr(open + 2, close - open - 2);
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        const std::string item = list.substr(at, comma - at);
        answer.words.push_back(prefix + item.substr(0, item.find("->")));
        at = comma + 1;
    }
    return answer;
}

// The command whose request fields a Field=value argument names: the
// subcommand's own, the one watch was given, or measure's settings.
const zem::Command *fieldsCommand(const CLI::App &app, const Words &given)
{
    if (const zem::Command *c = findCommand(app.get_name()))
        return c;
    if (app.get_option_no_throw("COMMAND") && !given.empty())
        return findCommand(given.front());
    return app.get_name() == "measure" ? findCommand(kMeasureSettings) : nullptr;
}

// What the next positional argument of `app` can be, `given` being those it
// already has.
Answer positionalValues(const CLI::App &app, const Words &given, const std::string &cur)
{
    std::size_t before = given.size();
    const CLI::Option *next = nullptr;
    for (const CLI::Option *o :
        app.get_options([](const CLI::Option *o) { return o->get_positional(); })) {
        const std::size_t takes = std::size_t(std::max(o->get_items_expected_max(), 0));
        if (before < takes) {
            next = o;
            break;
        }
        before -= takes;
    }
    Answer answer;
    if (!next)
        return answer;
    if (next->get_name() == "COMMAND") {
        for (const zem::Command &c : zem::kCommands)
            answer.words.push_back(c.name);
    } else if (next->get_name() == "Field=value") {
        const zem::Command *c = fieldsCommand(app, given);
        if (!c || !c->request)
            return answer;
        const std::size_t equals = cur.find('=');
        if (equals == std::string::npos) {
            answer.kind = "nospace";
            for (const zem::Field &f : c->request->fields)
                answer.words.push_back(std::string(f.name) + '=');
        } else if (const zem::Field *f
            = zem::codec::findField(*c->request, cur.substr(0, equals))) {
            for (const zem::NamedValue &v : f->values)
                if (v.kind == zem::ValueKind::Constant || v.kind == zem::ValueKind::Flag)
                    answer.words.push_back(cur.substr(0, equals + 1) + v.name);
        }
    } else if (namesFiles(*next)) {
        answer.kind = "files";
    }
    return answer;
}

Answer answerFor(const CLI::App &root, const Words &words)
{
    // Where the words before the cursor lead the parser.
    const CLI::App *app = &root;
    Words given; // arguments of the subcommand's positionals
    const CLI::Option *pending = nullptr; // an option that waits for its value
    bool positionalsOnly = false; // after "--"
    for (std::size_t i = 1; i + 1 < words.size(); ++i) {
        const std::string &word = words[i];
        if (pending) {
            pending = nullptr;
        } else if (!positionalsOnly && word == "--") {
            positionalsOnly = true;
        } else if (!positionalsOnly && word.size() > 1 && word[0] == '-') {
            const std::size_t equals = word.find('=');
            const CLI::Option *o = findOption(app, word.substr(0, equals));
            if (o && o->get_type_size() > 0 && equals == std::string::npos)
                pending = o;
        } else if (const CLI::App *sub = positionalsOnly ? nullptr : findSubcommand(app, word)) {
            app = sub;
            given.clear();
        } else {
            given.push_back(word);
        }
    }

    const std::string &cur = words.back();
    if (pending)
        return optionValues(*pending, "");
    if (!positionalsOnly && cur.rfind("--", 0) == 0 && cur.find('=') != std::string::npos) {
        const std::string name = cur.substr(0, cur.find('='));
        const CLI::Option *o = findOption(app, name);
        return o && o->get_type_size() > 0 ? optionValues(*o, name + '=') : Answer {};
    }
    Answer answer;
    if (!positionalsOnly && !cur.empty() && cur[0] == '-') {
        for (const CLI::Option *o : optionsAt(app, false)) {
            for (const std::string &s : o->get_snames())
                answer.words.push_back('-' + s);
            for (const std::string &l : o->get_lnames())
                answer.words.push_back("--" + l);
        }
        return answer;
    }
    answer = positionalValues(*app, given, cur);
    if (!positionalsOnly)
        for (const CLI::App *sub : app->get_subcommands(
                 [](const CLI::App *s) { return !s->get_group().empty() && !s->get_disabled(); }))
            answer.words.push_back(sub->get_name());
    return answer;
}

} // namespace

std::string completions(const CLI::App &app, const std::string &line, const char *token)
{
    std::string error;
    Words words = splitWords(line, error);
    // A blank after the last word starts the next one.
    if (error.empty() && !line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
        words.emplace_back();
    if (words.size() < 2) // the cursor is on the program's name
        return "words\n";

    Answer answer = answerFor(app, words);
    const std::string &cur = words.back();
    // bash replaces only its own last word, which ends where ours ends.
    std::string cut;
    const std::string_view tail = token ? std::string_view(token) : std::string_view(cur);
    if (tail.size() <= cur.size() && cur.compare(cur.size() - tail.size(), tail.size(), tail) == 0)
        cut = cur.substr(0, cur.size() - tail.size());
    std::string out = std::string(answer.kind) + '\n';
    std::set<std::string> seen;
    for (const std::string &w : answer.words)
        if (w.rfind(cur, 0) == 0 && seen.insert(w).second)
            out += w.substr(cut.size()) + '\n';
    return out;
}

} // namespace zemctl

#include "Manual.h"

#include <cctype>
#include <map>
#include <sstream>

#include <CLI/CLI.hpp>

namespace vt {
namespace cli {

namespace {

struct Page {
    std::string description;
    std::vector<std::string> examples;
};

std::map<const CLI::App*, Page>& Pages() {
    static std::map<const CLI::App*, Page> pages;
    return pages;
}

constexpr size_t kWidth = 80;

// Words of `text` filled into lines of at most kWidth columns, each line
// indented by `indent` spaces; a blank line in `text` starts a new paragraph.
std::string Fill(const std::string& text, size_t indent) {
    std::ostringstream out;
    std::istringstream paragraphs(text);
    std::string line, paragraph;
    std::vector<std::string> all;
    while (std::getline(paragraphs, line)) {
        if (line.find_first_not_of(' ') == std::string::npos) {
            if (!paragraph.empty()) all.push_back(paragraph);
            paragraph.clear();
        } else {
            paragraph += (paragraph.empty() ? "" : " ") + line;
        }
    }
    if (!paragraph.empty()) all.push_back(paragraph);
    for (size_t p = 0; p < all.size(); ++p) {
        if (p > 0) out << "\n";
        std::istringstream words(all[p]);
        std::string word, current;
        while (words >> word) {
            if (!current.empty() && indent + current.size() + 1 + word.size() > kWidth) {
                out << std::string(indent, ' ') << current << "\n";
                current.clear();
            }
            current += (current.empty() ? "" : " ") + word;
        }
        if (!current.empty()) out << std::string(indent, ' ') << current << "\n";
    }
    return out.str();
}

// "    TERM    text filled below" with the text starting on the term's line.
std::string Hanging(const std::string& term, const std::string& text) {
    std::string filled = Fill(text, 8);
    filled.replace(4, term.size(), term);
    return filled;
}

class ManualPage : public CLI::Formatter {
public:
    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode) const override {
        const auto found = Pages().find(app);
        const Page page = found != Pages().end() ? found->second : Page{};
        std::ostringstream out;
        std::string summary = app->get_description();
        if (!summary.empty()) summary[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(summary[0])));
        out << "NAME\n" << Fill(name + " - " + summary, 4);
        out << "\nSYNOPSIS\n" << Synopsis(app, name);
        if (!page.description.empty()) out << "\nDESCRIPTION\n" << Fill(page.description, 4);
        const auto subcommands = app->get_subcommands([](const CLI::App* sub) { return !sub->get_name().empty(); });
        if (!subcommands.empty()) {
            out << "\nCOMMANDS\n";
            for (const CLI::App* sub : subcommands)
                out << "    " << sub->get_name() << "\n" << Fill(sub->get_description(), 8);
        }
        Options(out, "ARGUMENTS", app->get_options([](const CLI::Option* o) { return o->get_positional(); }));
        Options(out, "OPTIONS", app->get_options([](const CLI::Option* o) { return o->nonpositional(); }));
        out << "\nEXIT STATUS\n"
            << Hanging("0", "success")
            << Hanging("1", "a finding: a bad tile, a damaged file, or a file that cannot be read for any reason "
                            "(missing, a directory, no permission, held open by another program)")
            << Hanging("2", "bad usage of the command line");
        if (!page.examples.empty()) {
            out << "\nEXAMPLES\n";
            for (const std::string& example : page.examples) out << "    " << example << "\n";
        }
        if (app->get_parent() == nullptr && !app->get_footer().empty()) out << "\n" << Fill(app->get_footer(), 0);
        return out.str();
    }

private:
    static std::string Synopsis(const CLI::App* app, const std::string& name) {
        std::string line = name;
        if (!app->get_subcommands({}).empty()) return "    " + name + " COMMAND [OPTIONS] ARGUMENTS...\n";
        if (!app->get_options([](const CLI::Option* o) { return o->nonpositional(); }).empty()) line += " [OPTIONS]";
        for (const CLI::Option* o : app->get_options([](const CLI::Option* o) { return o->get_positional(); }))
            line += " " + (o->get_required() ? o->get_name(true, false) : "[" + o->get_name(true, false) + "]");
        return Fill(line, 4);
    }

    static void Options(std::ostringstream& out, const char* title, const std::vector<const CLI::Option*>& options) {
        if (options.empty()) return;
        out << "\n" << title << "\n";
        for (const CLI::Option* o : options) {
            std::string names = o->get_positional() ? o->get_name(true, false) : o->get_name(false, true);
            for (size_t comma = names.find(','); comma != std::string::npos; comma = names.find(',', comma + 2))
                names.replace(comma, 1, ", ");
            if (!o->get_positional() && o->get_type_size() != 0 && !o->get_type_name().empty()) {
                names += " " + o->get_type_name();
                if (o->get_expected_min() > 1) names += " x " + std::to_string(o->get_expected_min());
            }
            std::string text = o->get_description();
            if (!o->get_default_str().empty()) text += " (default " + o->get_default_str() + ")";
            out << "    " << names << "\n" << Fill(text, 8);
        }
    }
};

}  // namespace

void UseManualPages(CLI::App& app) { app.formatter(std::make_shared<ManualPage>()); }

void Describe(CLI::App* command, const std::string& description, const std::vector<std::string>& examples) {
    Pages()[command] = Page{description, examples};
}

}  // namespace cli
}  // namespace vt

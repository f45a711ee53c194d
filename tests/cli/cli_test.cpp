// brindlemark-cli as a user meets it: exit status, standard output and standard error of the built program.
#include "core/fileio.h"
#include "core/objectbundle.h"
#include "document/mainform.h"

#include "core/fileio.h"
#include "tests/cli/clirun.h"
#include "tests/replace/bundlefixtures.h"
#include "tests/support/testsupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstring>
#include <map>
#include <sstream>

namespace brindlemark {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::Builder;
using testing::Bytes;
using testing::CliRun;
using ::testing::HasSubstr;
using testing::runCli;
using ::testing::StartsWith;
using testing::TempDir;
using testing::textOf;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

// One kind's object file inside a bundle.
struct KindFile {
    ObjectKind kind;
    Bytes file;
    std::int32_t flag = 1;
};

Bytes bundleOf(std::int32_t version, const std::vector<KindFile>& files) {
    Builder b;
    b.i32(version);
    for (ObjectKind k : kAllObjectKinds) {
        const auto it = std::find_if(files.begin(), files.end(), [k](const KindFile& f) { return f.kind == k; });
        if (it == files.end())
            b.i32(0);
        else
            b.i32(it->flag).append(it->file);
    }
    return b.bytes;
}

// Units of object file version 2: standard 'hfoo' (2 modifications) and 'hkni' (1); custom 'h000' read twice
// with matching identifiers (2 distinct fields in all) and 'h001' without modifications; standard 'hpea' without
// modifications, which loading drops.
Bytes sampleUnits() {
    Builder b;
    b.i32(2).u32(4);
    b.id("hfoo").id("").u32(2);
    b.id("unam").i32(3).str("Footman").id("hfoo");
    b.id("uhpm").i32(0).i32(250).id("hfoo");
    b.id("hpea").id("").u32(0);
    b.id("hkni").id("").u32(1).id("umvs").i32(1).f32bits(0x3fc00000).id("hkni");
    b.id("hfoo").id("H000").u32(1).id("ua1b").i32(0).i32(12).id("hfoo");
    b.u32(2);
    b.id("hfoo").id("h000").u32(1).id("unam").i32(3).str("Guard").id("hfoo");
    b.id("hkni").id("h001").u32(0);
    return b.bytes;
}

// Abilities of object file version 3: one custom ability 'A000' based on 'AHbz' with three level modifications.
Bytes sampleAbilities() {
    Builder b;
    b.i32(3).u32(0).u32(1);
    b.id("AHbz").id("A000").u32(1).i32(0).u32(3);
    b.id("Hbz1").i32(1).i32(1).i32(1).f32bits(0x40000000).id("AHbz");
    b.id("Hbz1").i32(1).i32(2).i32(1).f32bits(0x40400000).id("AHbz");
    b.id("anam").i32(3).i32(0).i32(0).str("Storm").id("AHbz");
    return b.bytes;
}

Bytes sampleBundle() {
    return bundleOf(3, {{ObjectKind::Units, sampleUnits()},
                        {ObjectKind::Abilities, sampleAbilities()},
                        {ObjectKind::Upgrades, Builder().i32(2).u32(0).u32(0).bytes, 2}});
}

// The bytes that loading `bytes` and saving them gives, by the library itself.
Bytes normalised(const Bytes& bytes) {
    ObjectBundle bundle;
    EXPECT_TRUE(bundle.loadBytes(bytes, "input"));
    return bundle.toBytes();
}

// The bytes of a string value shown in JSON with "escaped": true.
std::string unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
        } else if (text.compare(i, 2, "\\\\") == 0) {
            out += '\\';
            ++i;
        } else {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        }
    }
    return out;
}

const json* findKind(const json& doc, const std::string& name) {
    const auto it = doc.at("kinds").find(name);
    return it == doc.at("kinds").end() ? nullptr : &*it;
}

std::vector<std::string> idsOf(const json& objects) {
    std::vector<std::string> ids;
    for (const json& o : objects)
        ids.push_back(o.at("effectiveId").get<std::string>());
    return ids;
}

// ---- help and usage

TEST(CliHelp, ProgramHelpNamesEveryCommand) {
    const CliRun run = runCli({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    for (const char* name : {"check FILE", "dump FILE", "normalize FILE", "build JSON", "diff A B", "merge3 BASE"})
        EXPECT_THAT(run.out, HasSubstr("\n  " + std::string(name))) << name;
}

TEST(CliHelp, EveryCommandHasHelpEvenWithoutItsArguments) {
    for (const std::string name : {"check", "dump", "normalize", "build", "diff", "merge3"}) {
        const CliRun run = runCli({name, "--help"});
        EXPECT_EQ(run.status, 0) << name;
        EXPECT_THAT(run.out, StartsWith("usage: brindlemark-cli " + name + " ")) << name;
        EXPECT_EQ(run.err, "") << name;
        EXPECT_EQ(runCli({"help", name}).out, run.out) << name;
    }
}

TEST(CliHelp, DumpHelpExplainsHowOtherBytesAreShown) {
    const CliRun run = runCli({"dump", "--help"});
    EXPECT_THAT(run.out, HasSubstr("\\xNN"));
    EXPECT_THAT(run.out, HasSubstr("\"escaped\": true"));
}

// The option help is laid out from the option tables, and the manual page and the completions that the build
// writes with --generate name the same options.
TEST(CliHelp, OptionsStandInAColumnAndReachTheManualPageAndCompletions) {
    TempDir dir;
    std::map<std::string, std::string> generated;
    for (const std::string kind : {"man", "bash", "zsh"}) {
        const CliRun run = runCli({"--generate", kind, pathText(dir / kind)});
        ASSERT_EQ(run.status, 0) << run.err;
        generated[kind] = textOf(testing::readAll(dir / kind));
    }
    EXPECT_THAT(
        runCli({"replace", "--help"}).out,
        HasSubstr("\nOptions:\n  -l, --list LIST       the replace list (required)\n"
                  "  -s, --side FILE       a side file to patch; repeat for more, patched in the order given\n"));
    for (const std::string command : {"check", "dump", "normalize", "idlist", "replace", "merge", "import"}) {
        EXPECT_THAT(generated["man"], HasSubstr(".SS \"" + command)) << command;
        EXPECT_THAT(generated["bash"], HasSubstr("\n    " + command + ")\n")) << command;
        EXPECT_THAT(generated["zsh"], HasSubstr("\n    " + command + ")\n")) << command;
        bool inOptions = false;
        for (const std::string& line : lines(runCli({command, "--help"}).out)) {
            if (!line.starts_with("usage: ")) { // the synopsis stands on one line, as in the usage message
                EXPECT_LE(line.size(), 100u) << command << ": " << line;
            }
            inOptions = (inOptions && !line.empty()) || line == "Options:";
            if (!inOptions || !line.starts_with("  -"))
                continue;
            // "  -l, --list LIST       the replace list": the label ends where two spaces begin.
            const std::string label = line.substr(2, line.find("  ", 2) - 2);
            const std::size_t at = label.find("--");
            const std::string longName = label.substr(at, label.find(' ', at) - at);
            std::string roffLabel;
            for (const char c : label)
                roffLabel += c == '-' ? std::string("\\-") : std::string(1, c);
            const auto has = [&](const std::string& kind, const std::string& text) {
                EXPECT_TRUE(generated[kind].find(text) != std::string::npos) << kind << " lacks " << text;
            };
            has("man", ".TP\n.B " + roffLabel + "\n");
            has("bash", " " + longName);
            has("zsh", longName + (label.starts_with("--") ? "[" : "}'["));
        }
    }
    EXPECT_EQ(runCli({"--generate", "html", pathText(dir / "x")}).status, 2);
}

TEST(CliUsage, WrongCommandLinesExitWithTwoAndOneUsageLine) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
        std::string usage;
    };
    const std::string program = "usage: brindlemark-cli COMMAND [ARGUMENTS] (or --help)";
    const std::vector<Case> cases = {
        {{}, "no command given", program},
        {{"frobnicate"}, "unknown command 'frobnicate'", program},
        {{"check"}, "check: too few arguments", "usage: brindlemark-cli check FILE"},
        {{"check", "a.w3o", "b.w3o"}, "check: unexpected argument 'b.w3o'", "usage: brindlemark-cli check FILE"},
        {{"dump", "a.w3o", "--xml"}, "dump: unknown option '--xml'", "usage: brindlemark-cli dump FILE [--json]"},
        {{"dump", "--json=yes", "a.w3o"},
         "dump: option '--json' takes no value",
         "usage: brindlemark-cli dump FILE [--json]"},
        {{"normalize", "a.w3o"},
         "normalize: missing -o OUT",
         "usage: brindlemark-cli normalize FILE -o OUT [--keep-string-refs]"},
        {{"normalize", "a.w3o", "-o"},
         "normalize: option '-o' needs a value",
         "usage: brindlemark-cli normalize FILE -o OUT [--keep-string-refs]"},
    };
    for (const Case& c : cases) {
        const CliRun run = runCli(c.args);
        EXPECT_EQ(run.status, 2) << c.message;
        EXPECT_EQ(run.out, "") << c.message;
        EXPECT_EQ(run.err, "brindlemark-cli: " + c.message + "\n" + c.usage + "\n");
    }
}

TEST(CliUsage, DoubleDashLetsAFileNameStartWithADash) {
    TempDir dir;
    testing::writeAll(dir / "-odd.w3o", sampleBundle());
    // The program inherits this working folder, so the bare name reaches the file.
    const fs::path previous = fs::current_path();
    fs::current_path(dir.path());
    const CliRun withDashes = runCli({"check", "--", "-odd.w3o"});
    const CliRun without = runCli({"check", "-odd.w3o"});
    fs::current_path(previous);
    EXPECT_EQ(withDashes.status, 0) << withDashes.err;
    EXPECT_EQ(without.status, 2);
    EXPECT_THAT(without.err, StartsWith("brindlemark-cli: check: unknown option '-odd.w3o'\n"));
}

// ---- check

TEST(CliCheck, ReportsVersionsAndCountsOfThePresentKinds) {
    TempDir dir;
    const fs::path file = dir / "war.w3o";
    testing::writeAll(file, sampleBundle());
    const CliRun run = runCli({"check", file.string()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "bundle version: 3\n"
                       "units: object file version 2, standard objects 2, custom objects 2, modifications 5\n"
                       "abilities: object file version 3, standard objects 0, custom objects 1, modifications 3\n"
                       "upgrades: object file version 2, standard objects 0, custom objects 0, modifications 0, "
                       "presence flag 2\n");
}

TEST(CliCheck, RefusedFileExitsWithOneAndTheOffset) {
    TempDir dir;
    const fs::path file = dir / "cut.w3o";
    const Bytes whole = sampleBundle();
    const std::size_t cut = 60; // before the end marker of the second modification of 'hfoo'
    testing::writeAll(file, Bytes(whole.begin(), whole.begin() + cut));
    const CliRun run = runCli({"check", file.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    ASSERT_EQ(lines(run.err).size(), 1u) << run.err;
    EXPECT_THAT(run.err, StartsWith("brindlemark-cli: " + file.string() + ": "));
    EXPECT_THAT(run.err, HasSubstr("byte " + std::to_string(cut)));
}

TEST(CliCheck, MissingFileIsReported) {
    TempDir dir;
    const fs::path file = dir / "absent.w3o";
    const CliRun run = runCli({"check", file.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, StartsWith("brindlemark-cli: " + file.string() + ": cannot open"));
}

TEST(CliCheck, LoadWarningsGoToStandardErrorOnly) {
    // 'hfoo' stands as a standard object and as the new identifier of a custom one; a second standard 'hfoo'
    // then finds it in both tables, which loading warns about.
    Builder units;
    units.i32(2).u32(2);
    units.id("hfoo").id("").u32(1).id("uhpm").i32(0).i32(1).id("hfoo");
    units.id("hkni").id("hfoo").u32(1).id("uhpm").i32(0).i32(2).id("hkni");
    units.u32(1).id("hfoo").id("").u32(1).id("umvs").i32(0).i32(3).id("hfoo");
    TempDir dir;
    const fs::path file = dir / "twice.w3o";
    testing::writeAll(file, bundleOf(1, {{ObjectKind::Units, units.bytes}}));

    const CliRun check = runCli({"check", file.string()});
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(check.out, "bundle version: 1\n"
                         "units: object file version 2, standard objects 1, custom objects 1, modifications 3\n");
    EXPECT_EQ(check.err, "brindlemark-cli: " + file.string() + ": WARNING: COLLISION OF EXISTANCE FOR ID hfoo\n");

    const CliRun dump = runCli({"dump", file.string(), "--json"});
    EXPECT_EQ(dump.status, 0);
    EXPECT_TRUE(json::accept(dump.out));
    EXPECT_THAT(dump.err, HasSubstr("COLLISION"));
}

#ifndef _WIN32
TEST(CliCheck, FileNameBytesAreTakenAsTheyAre) {
    TempDir dir;
    const fs::path file = dir / "karte-\xe9\xff.w3o"; // not UTF-8
    testing::writeAll(file, sampleBundle());
    const CliRun run = runCli({"check", file.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, StartsWith("bundle version: 3\n"));
}
#endif

// ---- normalize

// Without the archive module every command refuses an archive the same way; bundles, object files and map
// folders work as in every build (their tests run in both).
TEST(CliMaps, ABuildWithoutMapSupportRefusesMapsAndSaysSo) {
    if (BRINDLEMARK_HAVE_ARCHIVES)
        GTEST_SKIP() << "this build reads maps";
    TempDir dir;
    const fs::path map = dir / "war.W3X";
    testing::writeAll(map, Bytes(512, 0));
    testing::writeAll(dir / "list.txt", std::string("hfoo h000\n"));
    testing::writeAll(dir / "added.w3o", sampleBundle());
    const std::string name = map.string();
    const std::vector<std::vector<std::string>> commands = {
        {"check", name},
        {"dump", name},
        {"idlist", name, "-o", (dir / "ids.txt").string()},
        {"replace", name, "--list", (dir / "list.txt").string()},
        {"merge", name, (dir / "added.w3o").string(), "--policy", "glue"},
        {"import", name, (dir / "added.w3o").string()}};
    for (const std::vector<std::string>& args : commands) {
        const CliRun run = runCli(args);
        EXPECT_EQ(run.status, 1) << args[0];
        EXPECT_THAT(run.err,
                    ::testing::EndsWith(name + ": map archives (.w3x, .w3m) are not supported by this build\n"))
            << args[0];
    }
    EXPECT_EQ(testing::readAll(map), Bytes(512, 0));
    EXPECT_FALSE(fs::exists(dir / "BACKUP_war.W3X"));
}

TEST(CliNormalize, WritesWhatLoadingAndSavingGives) {
    TempDir dir;
    const fs::path in = dir / "in.w3o";
    const fs::path out = dir / "out.w3o";
    const Bytes input = sampleBundle();
    testing::writeAll(in, input);
    const CliRun run = runCli({"normalize", in.string(), "-o", out.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    const Bytes written = testing::readAll(out);
    EXPECT_NE(written, input); // the sample is not in normal form, so something had to change
    EXPECT_EQ(written, normalised(input));
    EXPECT_EQ(testing::readAll(in), input);

    // The output is itself in normal form.
    const fs::path again = dir / "again.w3o";
    EXPECT_EQ(runCli({"normalize", out.string(), "--output=" + again.string()}).status, 0);
    EXPECT_EQ(testing::readAll(again), written);
}

TEST(CliNormalize, OutputMayBeTheInputItself) {
    TempDir dir;
    const fs::path file = dir / "war.w3o";
    testing::writeAll(file, sampleBundle());
    const CliRun run = runCli({"normalize", file.string(), "--output", file.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(testing::readAll(file), normalised(sampleBundle()));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(CliNormalize, RefusedFileCreatesNoOutput) {
    TempDir dir;
    const fs::path in = dir / "cut.w3o";
    const Bytes whole = sampleBundle();
    testing::writeAll(in, Bytes(whole.begin(), whole.end() - 5));
    const fs::path out = dir / "out.w3o";
    const CliRun run = runCli({"normalize", in.string(), "-o", out.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, StartsWith("brindlemark-cli: " + in.string() + ": "));
    EXPECT_FALSE(fs::exists(out));
    // Nothing else was left behind either.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(CliNormalize, RefusedFileLeavesAnExistingOutputAlone) {
    TempDir dir;
    const fs::path in = dir / "cut.w3o";
    testing::writeAll(in, Bytes{1, 0, 0, 0, 1, 0});
    const fs::path out = dir / "out.w3o";
    testing::writeAll(out, std::string_view("keep me"));
    EXPECT_EQ(runCli({"normalize", in.string(), "-o", out.string()}).status, 1);
    EXPECT_EQ(textOf(testing::readAll(out)), "keep me");
}

TEST(CliNormalize, SaveFailureIsReported) {
    TempDir dir;
    const fs::path in = dir / "war.w3o";
    testing::writeAll(in, sampleBundle());
    const fs::path out = dir / "no such folder" / "out.w3o";
    const CliRun run = runCli({"normalize", in.string(), "-o", out.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, StartsWith("brindlemark-cli: " + out.string() + ": cannot write"));
    EXPECT_FALSE(fs::exists(out));
}

// ---- dump

TEST(CliDump, JsonHoldsEveryObjectInTableOrder) {
    TempDir dir;
    const fs::path file = dir / "war.w3o";
    testing::writeAll(file, sampleBundle());
    const CliRun run = runCli({"dump", file.string(), "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const json doc = json::parse(run.out);
    EXPECT_EQ(doc.at("version"), 3);
    std::vector<std::string> kinds;
    const nlohmann::ordered_json ordered = nlohmann::ordered_json::parse(run.out);
    for (const auto& [name, kind] : ordered.at("kinds").items())
        kinds.push_back(name);
    EXPECT_EQ(kinds, (std::vector<std::string>{"units", "abilities", "upgrades"}));

    const json& units = *findKind(doc, "units");
    EXPECT_EQ(units.at("version"), 2);
    EXPECT_EQ(units.at("present"), 1);
    EXPECT_EQ(idsOf(units.at("standard")), (std::vector<std::string>{"hfoo", "hkni"}));
    // 'H000' and 'h000' were glued into the one read first, holding both fields.
    EXPECT_EQ(idsOf(units.at("custom")), (std::vector<std::string>{"H000", "h001"}));
    const json& footman = units.at("standard").at(0);
    EXPECT_EQ(footman.at("baseId"), "hfoo");
    EXPECT_EQ(footman.at("newId"), "\\x00\\x00\\x00\\x00");
    const json& hp = footman.at("modifications").at(0);
    EXPECT_EQ(hp.at("field"), "uhpm");
    EXPECT_EQ(hp.at("type"), "integer");
    EXPECT_EQ(hp.at("value"), 250);
    EXPECT_FALSE(hp.contains("level"));
    EXPECT_EQ(footman.at("modifications").at(1).at("value"), "Footman");
    const json& speed = units.at("standard").at(1).at("modifications").at(0);
    EXPECT_EQ(speed.at("type"), "real");
    EXPECT_EQ(speed.at("bits"), "0x3fc00000");
    EXPECT_EQ(speed.at("value"), 1.5);
    const json& guard = units.at("custom").at(0);
    EXPECT_EQ(guard.at("baseId"), "hfoo");
    EXPECT_EQ(guard.at("modifications").size(), 2u);
    EXPECT_EQ(units.at("custom").at(1).at("modifications").size(), 0u);

    const json& abilities = *findKind(doc, "abilities");
    EXPECT_EQ(abilities.at("hasLevels"), true);
    const json& storm = abilities.at("custom").at(0);
    EXPECT_EQ(storm.at("effectiveId"), "A000");
    EXPECT_EQ(storm.at("setFlag"), 0);
    const json& mods = storm.at("modifications");
    ASSERT_EQ(mods.size(), 3u);
    EXPECT_EQ(mods.at(0).at("field"), "anam");
    EXPECT_EQ(mods.at(0).at("level"), 0);
    EXPECT_EQ(mods.at(2).at("field"), "Hbz1");
    EXPECT_EQ(mods.at(2).at("level"), 2);
    EXPECT_EQ(mods.at(2).at("column"), 1);
    EXPECT_EQ(mods.at(2).at("value"), 3.0);
    EXPECT_EQ(findKind(doc, "upgrades")->at("present"), 2);
}

TEST(CliDump, TextListsEveryObjectInTableOrder) {
    // Custom objects read as B000, a000, A001 are stored, and listed, as a000, A001, B000.
    Builder units;
    units.i32(2).u32(0).u32(3);
    for (const char* newId : {"B000", "a000", "A001"})
        units.id("hfoo").id(newId).u32(1).id("unam").i32(3).str(std::string("name of ") + newId).id("hfoo");
    TempDir dir;
    const fs::path file = dir / "war.w3o";
    testing::writeAll(file, bundleOf(1, {{ObjectKind::Units, units.bytes}}));
    const CliRun run = runCli({"dump", file.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::size_t a000 = run.out.find("custom object a000:");
    const std::size_t a001 = run.out.find("custom object A001:");
    const std::size_t b000 = run.out.find("custom object B000:");
    ASSERT_NE(a000, std::string::npos) << run.out;
    ASSERT_NE(a001, std::string::npos) << run.out;
    ASSERT_NE(b000, std::string::npos) << run.out;
    EXPECT_LT(a000, a001);
    EXPECT_LT(a001, b000);
    // Each object's modification follows it.
    EXPECT_LT(a000, run.out.find("\"name of a000\""));
    EXPECT_LT(run.out.find("\"name of a000\""), a001);
}

TEST(CliDump, TextOfLevelKindsShowsLevelAndColumn) {
    TempDir dir;
    const fs::path file = dir / "war.w3o";
    testing::writeAll(file, bundleOf(1, {{ObjectKind::Abilities, sampleAbilities()}}));
    const CliRun run = runCli({"dump", file.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("Hbz1 level 2 column 1 real 3 (bits 0x40400000)"));
    EXPECT_THAT(run.out, HasSubstr("anam level 0 column 0 string \"Storm\""));
}

TEST(CliDump, StringsThatAreNotUtf8SurviveAsEscapedText) {
    const std::string latin1 = "Caf\xe9 \\ \xff";
    const std::string utf8 = "\xd0\xa0\xd1\x8b\xd1\x86\xd0\xb0\xd1\x80\xd1\x8c \\ path"; // Cyrillic and a backslash
    Builder items;
    items.i32(2).u32(0).u32(1).id("ratf").id("I000").u32(2);
    items.id("unam").i32(3).str(latin1).id("ratf");
    items.id("utip").i32(3).str(utf8).id("ratf");
    TempDir dir;
    const fs::path file = dir / "war.w3o";
    testing::writeAll(file, bundleOf(1, {{ObjectKind::Items, items.bytes}}));

    const CliRun run = runCli({"dump", file.string(), "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    json doc;
    ASSERT_NO_THROW(doc = json::parse(run.out)) << run.out;
    const json& mods = findKind(doc, "items")->at("custom").at(0).at("modifications");
    const json& name = mods.at(0);
    EXPECT_EQ(name.at("value"), "Caf\\xe9 \\\\ \\xff");
    EXPECT_EQ(name.at("escaped"), true);
    EXPECT_EQ(unescape(name.at("value").get<std::string>()), latin1);
    const json& tip = mods.at(1);
    EXPECT_EQ(tip.at("value"), utf8);
    EXPECT_FALSE(tip.contains("escaped"));

    const CliRun text = runCli({"dump", file.string()});
    EXPECT_THAT(text.out, HasSubstr("unam string \"Caf\\xe9 \\\\ \\xff\""));
    EXPECT_THAT(text.out,
                HasSubstr("utip string \"" + std::string("\xd0\xa0\xd1\x8b\xd1\x86\xd0\xb0\xd1\x80\xd1\x8c")));
}

TEST(CliDump, IdentifierBytesThatAreNotPrintableAreEscaped) {
    Builder units;
    units.i32(2).u32(0).u32(1);
    units.id("hfoo").raw("h\x01\xe9\x7f").u32(1).raw(std::string_view("u\0hp", 4)).i32(0).i32(5).id("hfoo");
    TempDir dir;
    const fs::path file = dir / "war.w3o";
    testing::writeAll(file, bundleOf(1, {{ObjectKind::Units, units.bytes}}));
    const CliRun run = runCli({"dump", file.string(), "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const json doc = json::parse(run.out);
    const json& object = findKind(doc, "units")->at("custom").at(0);
    EXPECT_EQ(object.at("newId"), "h\\x01\\xe9\\x7f");
    EXPECT_EQ(object.at("modifications").at(0).at("field"), "u\\x00hp");
    EXPECT_THAT(runCli({"dump", file.string()}).out, HasSubstr("custom object h\\x01\\xe9\\x7f:"));
}

TEST(CliDump, RealValuesKeepTheirExactBits) {
    Builder units;
    units.i32(2).u32(1).id("hfoo").id("").u32(3);
    units.id("ua1c").i32(1).f32bits(0x3dcccccd).id("hfoo"); // 0.1 in single precision
    units.id("ua1d").i32(2).f32bits(0x7fc00001).id("hfoo"); // a NaN with a payload
    units.id("ua1e").i32(1).f32bits(0x80000000).id("hfoo"); // minus zero
    units.u32(0);
    TempDir dir;
    const fs::path file = dir / "war.w3o";
    testing::writeAll(file, bundleOf(1, {{ObjectKind::Units, units.bytes}}));
    const CliRun run = runCli({"dump", file.string(), "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const json doc = json::parse(run.out);
    const json& mods = findKind(doc, "units")->at("standard").at(0).at("modifications");
    const float tenth = static_cast<float>(mods.at(0).at("value").get<double>());
    std::uint32_t bits = 0;
    std::memcpy(&bits, &tenth, 4);
    EXPECT_EQ(bits, 0x3dcccccdu);
    EXPECT_EQ(mods.at(0).at("bits"), "0x3dcccccd");
    EXPECT_EQ(mods.at(1).at("type"), "unreal");
    EXPECT_TRUE(mods.at(1).at("value").is_null());
    EXPECT_EQ(mods.at(1).at("bits"), "0x7fc00001");
    EXPECT_EQ(mods.at(2).at("bits"), "0x80000000");
    EXPECT_TRUE(std::signbit(mods.at(2).at("value").get<double>()));
}

TEST(CliDump, UnknownValueTypeShowsItsCode) {
    // A stray marker 'XXXX' before the modification; the type read after it is 7, which no value follows.
    Builder units;
    units.i32(2).u32(1).id("hfoo").id("").u32(1);
    units.id("XXXX").id("uhpm").i32(7).id("hfoo");
    units.u32(0);
    TempDir dir;
    const fs::path file = dir / "war.w3o";
    testing::writeAll(file, bundleOf(1, {{ObjectKind::Units, units.bytes}}));
    const CliRun run = runCli({"dump", file.string(), "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const json doc = json::parse(run.out);
    const json& mod = findKind(doc, "units")->at("standard").at(0).at("modifications").at(0);
    EXPECT_EQ(mod.at("field"), "uhpm");
    EXPECT_EQ(mod.at("type"), "unknown");
    EXPECT_EQ(mod.at("typeCode"), 7);
    EXPECT_FALSE(mod.contains("value"));
    EXPECT_EQ(mod.at("strayBefore"), "XXXX");
    EXPECT_THAT(runCli({"dump", file.string()}).out,
                HasSubstr("uhpm type 7 (unknown, no value), stray value XXXX before it"));
}

TEST(CliDump, EmptyBundleIsValidJson) {
    TempDir dir;
    const fs::path file = dir / "empty.w3o";
    testing::writeAll(file, bundleOf(5, {}));
    const CliRun run = runCli({"dump", file.string(), "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const json doc = json::parse(run.out);
    EXPECT_EQ(doc.at("version"), 5);
    EXPECT_TRUE(doc.at("kinds").empty());
}

#ifndef _WIN32
TEST(CliDump, FailedOutputIsReported) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    TempDir dir;
    const fs::path file = dir / "war.w3o";
    testing::writeAll(file, sampleBundle());
    const CliRun run = runCli({"dump", file.string(), "--json"}, "/dev/full");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "brindlemark-cli: cannot write to standard output\n");
}
#endif

TEST(CliDump, RefusedFileWritesNothingToStandardOutput) {
    TempDir dir;
    const fs::path file = dir / "cut.w3o";
    const Bytes whole = sampleBundle();
    testing::writeAll(file, Bytes(whole.begin(), whole.end() - 30));
    for (const char* mode : {"", "--json"}) {
        std::vector<std::string> args = {"dump", file.string()};
        if (*mode)
            args.push_back(mode);
        const CliRun run = runCli(args);
        EXPECT_EQ(run.status, 1) << mode;
        EXPECT_EQ(run.out, "") << mode;
        EXPECT_THAT(run.err, StartsWith("brindlemark-cli: " + file.string() + ": ")) << mode;
    }
}

} // namespace
} // namespace brindlemark

namespace brindlemark {
namespace {

using namespace testing;

// A file of another form given where object data belongs is named for what it is, and an output whose name
// names another form than the data is refused; either way nothing is written.
TEST(CliForms, WrongFormsAreNamedAndOutputsMustMatchTheirNames) {
    TempDir dir;
    const auto file = [&dir](const char* name) { return pathText(dir / name); };
    writeAll(dir / "war3map.wtg", std::string("WTG!\x07\x00\x00\x00", 8));
    writeAll(dir / "war3map.wts", std::string("STRING 1\r\n{\r\nx\r\n}\r\n"));
    writeAll(dir / "notes.txt", std::string("hfoo h000\r\n"));
    writeAll(dir / "Added.w3x", std::string("MPQ\x1a\x20\x00\x00\x00\x00\x10\x00\x00", 12));
    writeAll(dir / "renamed.w3o", std::string("HM3W\x00\x00\x00\x00Map\x00", 12));
    std::filesystem::create_directory(dir / "plain folder");
    writeAll(dir / "list.txt", std::string("hfoo h001\n"));
    ObjectBundle units;
    put(units, ObjectKind::Units, makeObject("hfoo", "h000", {intField("uhpm", 1)}));
    std::string error;
    ASSERT_TRUE(units.save(dir / "units.w3u", error));
    ObjectBundle both = units;
    put(both, ObjectKind::Abilities, makeObject("AHbz", "A000", {}));
    ASSERT_TRUE(both.save(dir / "both.w3o", error));
    const Bytes bundleBefore = testing::readAll(dir / "both.w3o");

    struct Case {
        std::vector<std::string> args;
        std::string said;
    };
    const std::vector<Case> cases = {
        {{"check", file("war3map.wtg")}, file("war3map.wtg") + " is a trigger file"},
        {{"check", file("war3map.wts")}, file("war3map.wts") + " is not object data (a string table)"},
        {{"check", file("notes.txt")}, file("notes.txt") + " is not object data (text)"},
        {{"check", file("plain folder")}, file("plain folder") + ": a folder that is not a map"},
        {{"dump", file("renamed.w3o")}, file("renamed.w3o") + " is a map"},
        {{"replace", file("war3map.wtg"), "--list", file("list.txt")}, file("war3map.wtg") + " is a trigger file"},
        {{"merge", file("both.w3o"), file("Added.w3x"), "--policy", "glue"},
         file("Added.w3x") +
             (BRINDLEMARK_HAVE_ARCHIVES ? ": damaged archive" : ": " + std::string(kArchivesUnsupported))},
        {{"merge", file("both.w3o"), file("notes.txt"), "--policy", "glue"}, file("notes.txt") + " is not object data"},
        {{"normalize", file("units.w3u"), "-o", file("Copy.w3x")},
         "normalize: " + file("Copy.w3x") + " is a map; normalize writes a bundle (.w3o) or an object file"},
        {{"normalize", file("both.w3o"), "-o", file("out.w3u")},
         "normalize: " + file("out.w3u") + " holds units only, but " + file("both.w3o") + " holds abilities"},
        {{"normalize", file("units.w3u"), "-o", file("out.w3a")},
         "normalize: " + file("out.w3a") + " holds abilities only, but " + file("units.w3u") + " holds units"},
    };
    for (const Case& c : cases) {
        const CliRun run = runCli(c.args);
        EXPECT_EQ(run.status, 1) << c.said;
        EXPECT_THAT(run.err, HasSubstr(c.said)) << run.err;
    }
    for (const char* name : {"Copy.w3x", "out.w3u", "out.w3a", "BACKUP_both.w3o", "BACKUP_war3map.wtg"})
        EXPECT_FALSE(std::filesystem::exists(dir / name)) << name;
    EXPECT_EQ(testing::readAll(dir / "both.w3o"), bundleBefore);

    const CliRun single = runCli({"check", file("units.w3u")});
    EXPECT_EQ(single.status, 0);
    EXPECT_EQ(single.out, "units: object file version 0, standard objects 0, custom objects 1, modifications 1\n");
    // A bundle made from an object file has the bundle version the editor writes.
    ASSERT_EQ(runCli({"normalize", file("units.w3u"), "-o", file("out.w3o")}).status, 0);
    EXPECT_EQ(runCli({"check", file("out.w3o")}).out,
              "bundle version: 1\nunits: object file version 0, standard objects 0, custom objects 1, "
              "modifications 1\n");
}

} // namespace
} // namespace brindlemark

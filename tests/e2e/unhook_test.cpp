// Unhooking gives each class back exactly the registration it had: the
// sample, and a component nobody here wrote (the prefix's scrrun.dll), both
// through vxtrace as a user runs it and through the watcher's re-hook.
#include <gtest/gtest.h>

#include "readertest.h"

namespace e2e {
namespace {

// The class keys of a server, values in the order the registry gives them
// (as an export lists them), subkeys recursively.
std::string KeyText(HKEY parent, const std::string& path) {
    vx::unique_hkey key;
    if (::RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return "[" + path + "] missing\n";
    std::string text = "[" + path + "]\n";
    for (DWORD i = 0;; ++i) {
        char name[512];
        BYTE data[2048];
        DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
        if (::RegEnumValueA(key.get(), i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
        text += "\"" + std::string(name, nameSize) + "\" type " + std::to_string(type) + " = ";
        if (type == REG_SZ || type == REG_EXPAND_SZ)
            text += std::string(reinterpret_cast<char*>(data), dataSize ? dataSize - 1 : 0);
        else
            text += Hex(dataSize) + " bytes";
        text += "\n";
    }
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD nameSize = sizeof name;
        if (::RegEnumKeyExA(key.get(), i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        text += KeyText(parent, path + "\\" + name);
    }
    return text;
}

std::string ClassKeys(const std::vector<std::string>& classes) {
    std::string text;
    for (const std::string& cls : classes) text += KeyText(HKEY_CLASSES_ROOT, "CLSID\\" + cls);
    return text;
}

std::string ServerValue(const std::string& cls, const char* name) {
    return RegString("CLSID\\" + cls + "\\InprocServer32", name);
}

// As a user's registry holds the sample: its own registration only.
class UnhookTest : public ReaderTest {
protected:
    void SetUp() override {
        ReaderTest::SetUp();
        for (const std::string& cls : vxinstall::ClassesOfServer(sample))
            ::RegDeleteKeyValueA(HKEY_CLASSES_ROOT, ("CLSID\\" + cls + "\\InprocServer32").c_str(), "TypeLib");
    }
};

TEST_F(UnhookTest, HookThenUnhookLeavesTheClassKeysAsTheyWereAndARehookKeepsTheRealPath) {
    // The prefix's own scripting runtime: Scripting.FileSystemObject's server.
    const std::string scrrun = ServerValue("{0D43FE01-F093-11CF-8940-00A0C9054228}", nullptr);
    ASSERT_NE(scrrun, "<missing>");
    for (const std::string& dll : {sample, scrrun}) {
        SCOPED_TRACE(dll);
        std::vector<std::string> classes = vxinstall::ClassesOfServer(dll);
        ASSERT_FALSE(classes.empty());
        const std::string before = ClassKeys(classes);
        ASSERT_EQ(before.find("\"TypeLib\""), std::string::npos) << "no TypeLib value of its own:\n" << before;

        ProcessResult hook = Vxtrace("hook " + Quoted(dll));
        ASSERT_EQ(hook.exitCode, 0u) << hook.output;
        for (const std::string& cls : classes) {
            EXPECT_NE(ServerValue(cls, nullptr).find("Zor#_"), std::string::npos) << cls;
            EXPECT_EQ(ServerValue(cls, "TypeLib"), dll) << "the real path as the registration wrote it";
        }
        ProcessResult unhook = Vxtrace("unhook " + Quoted(dll));
        ASSERT_EQ(unhook.exitCode, 0u) << unhook.output;
        EXPECT_TRUE(PumpUntil([&] { return ClassKeys(classes) == before; }));
        EXPECT_EQ(ClassKeys(classes), before);
    }

    // Through the reader: a re-hook keeps the real path and the removal takes it.
    const std::string stub = inst.folder + "Zor#_03.dll";
    std::vector<std::string> classes = vxinstall::ClassesOfServer(sample);
    ASSERT_EQ(classes.size(), 5u);
    const std::string before = ClassKeys(classes);
    Apartment apartment;
    {
        vx::com_ptr<ITraceReader> reader = NewTraceReader(inst.folder);
        ASSERT_TRUE(reader);
        vx::unique_bstr path(vx::NewBstr(sample));
        VARIANT_BOOL ok = VARIANT_FALSE;
        ASSERT_EQ(reader->SetHook(path.get(), 3, &ok), S_OK);
        ASSERT_EQ(ok, VARIANT_TRUE);

        // A rebuild registers the component again: the watcher's re-hook
        // removes and sets the hook without losing the real path.
        std::string error;
        ASSERT_TRUE(vxinstall::RegisterComponent(sample, false, &error)) << error;
        EXPECT_TRUE(PumpUntil([&] { return vxinstall::ClassesOfServer(stub).size() == classes.size(); }));
        for (const std::string& cls : classes) EXPECT_EQ(ServerValue(cls, "TypeLib"), sample) << cls;

        ASSERT_EQ(reader->RemoveHook(path.get(), &ok), S_OK);
        EXPECT_EQ(ok, VARIANT_TRUE);
        // At once, before the component's registration has run: every class
        // on the real DLL, none on the stub without its real path.
        for (const std::string& cls : classes) {
            EXPECT_EQ(ServerValue(cls, nullptr), sample) << cls;
            EXPECT_EQ(ServerValue(cls, "TypeLib"), "<missing>") << cls;
        }
        EXPECT_TRUE(PumpUntil([&] {
            VARIANT_BOOL ended = VARIANT_FALSE;
            reader->IsTerminationCompleted(&ended);
            return ended == VARIANT_TRUE && ClassKeys(classes) == before;
        }));
        EXPECT_EQ(ClassKeys(classes), before);
        ASSERT_EQ(reader->RemoveHook(path.get(), &ok), S_OK);
        EXPECT_EQ(ok, VARIANT_FALSE) << "removed already";
    }
}

}  // namespace
}  // namespace e2e

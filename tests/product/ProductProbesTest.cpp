// The product probes against a seeded registry, and their pure parts.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <thread>

#include "log/Logger.h"
#include "product/LenientDecimal.h"
#include "product/NX_Helpers.h"
#include "product/ProductState.h"
#include "tests/support/TestLog.h"
#include "tests/support/TestRegistry.h"

using testsupport::Contains;
using testsupport::LogMark;
using testsupport::SeedProduct;
using testsupport::View;

namespace {

class TestLogEnvironment : public ::testing::Environment {
public:
    void SetUp() override { KvQmtLogging::GetLogger().Configure(0, L"Test", L"product_probes"); }
};
const auto* const kLogEnvironment = ::testing::AddGlobalTestEnvironment(new TestLogEnvironment);

LogMark MarkLog() { return LogMark(L"Test", L"product_probes"); }

struct VersionCase {
    const wchar_t* text;
    bool parses;
    int major;
    int minor;
};

TEST(ExtractVersions, ParsesMajorAndMinorOfThreePartVersionsLeniently) {
    const VersionCase cases[] = {
        {L"1.57.0", true, 1, 57},
        {L"1.56.999", true, 1, 56},
        {L"2.0.0", true, 2, 0},
        {L"1.57abc.3", true, 1, 57},
        {L"1.57.x.y", true, 1, 57},
        {L" 1.71.0", true, 1, 71},
        {L"x.y.z", true, 0, 0},
        {L"..", true, 0, 0},
        {L"1.57", false, -1, -1},
        {L"157", false, -1, -1},
        {L"", false, -1, -1},
    };
    for (const VersionCase& c : cases) {
        int major = -1;
        int minor = -1;
        EXPECT_EQ(c.parses, ExtractVersions(c.text, major, minor)) << c.text;
        EXPECT_EQ(c.major, major) << c.text;
        EXPECT_EQ(c.minor, minor) << c.text;
    }
}

TEST(ExtractVersions, NamesWhichDotIsMissing) {
    const LogMark mark = MarkLog();
    int major = 0;
    int minor = 0;
    ExtractVersions(L"157", major, minor);
    ExtractVersions(L"1.57", major, minor);
    const std::wstring log = mark.NewText();
    EXPECT_TRUE(Contains(log, L"ExtractVersions: Version format is wrong - cannot find first '.'")) << log;
    EXPECT_TRUE(Contains(log, L"ExtractVersions: Version format is wrong - cannot find second '.'")) << log;
}

TEST(LenientDecimal, StopsAtTheFirstNonDigitAndNeverOverflows) {
    EXPECT_EQ(57, LenientDecimal(L"57abc"));
    EXPECT_EQ(0, LenientDecimal(L"abc"));
    EXPECT_EQ(0, LenientDecimal(L""));
    EXPECT_EQ(-3, LenientDecimal(L"  -3"));
    EXPECT_EQ(4, LenientDecimal(L"+4"));
    EXPECT_EQ(INT_MAX, LenientDecimal(L"99999999999999999999"));
    EXPECT_EQ(INT_MIN, LenientDecimal(L"-99999999999999999999"));
}

TEST(VersionThresholds, UpgradeableFrom157AndUpToDateFrom171) {
    EXPECT_TRUE(NX_Helpers::IsUpgradeableVersion(1, 57));
    EXPECT_FALSE(NX_Helpers::IsUpgradeableVersion(1, 56));
    EXPECT_FALSE(NX_Helpers::IsUpgradeableVersion(0, 99));
    EXPECT_TRUE(NX_Helpers::IsUpgradeableVersion(2, 0));
    EXPECT_FALSE(NX_Helpers::IsUpToDateVersion(1, 70));
    EXPECT_TRUE(NX_Helpers::IsUpToDateVersion(1, 71));
    EXPECT_TRUE(NX_Helpers::IsUpToDateVersion(2, 1));
    EXPECT_FALSE(NX_Helpers::IsUpToDateVersion(-1, 99));
}

class ProductProbes : public ::testing::Test {
protected:
    void SetUp() override { testsupport::RemoveProductState(); }
    void TearDown() override { testsupport::RemoveProductState(); }
};

struct RoadCase {
    const wchar_t* version;
    bool retailOperator;
    bool upToDate;
    bool upgradeable;
};

TEST_F(ProductProbes, VersionAndOperatorDecideBothRoads) {
    const RoadCase cases[] = {
        {L"1.57.0", true, false, true},    {L"1.56.999", true, false, false}, {L"0.99.1", true, false, false},
        {L"2.0.0", true, true, true},      {L"1.70.5", true, false, true},    {L"1.71.0", true, true, true},
        {L"2.1.1", true, true, true},      {L"1.71.0", false, false, false},  {L"1.60.0", false, false, false},
        {L"1.57", true, false, false},     {L"157", true, false, false},      {L"1.57abc.3", true, false, true},
        {L"", true, false, false},
    };
    for (const RoadCase& c : cases) {
        testsupport::RemoveProductState();
        SeedProduct(c.version, c.retailOperator);
        EXPECT_EQ(c.upToDate, NX_Helpers::NXIsUpToDateAlready()) << c.version << " operator " << c.retailOperator;
        EXPECT_EQ(c.upgradeable, NX_Helpers::UpgradeableHGInstalledForRetailOperator())
            << c.version << " operator " << c.retailOperator;
    }
}

TEST_F(ProductProbes, NothingInstalledIsReportedWithNotFound) {
    const LogMark mark = MarkLog();
    EXPECT_EQ(L"", GetInstalledQMTVersion());
    EXPECT_FALSE(NX_Helpers::NXIsUpToDateAlready());
    EXPECT_FALSE(NX_Helpers::UpgradeableHGInstalledForRetailOperator());
    EXPECT_TRUE(Contains(mark.NewText(),
                         L"GetInstalledQMTVersion: Failed to read InstallerVersion from QMT. Product is not installed. "
                         L"Returned error: 1"));
}

TEST_F(ProductProbes, ExpandableVersionCountsAsNotInstalled) {
    const wchar_t version[] = L"1.71.0";
    testsupport::SetRawValue(testsupport::QmtKey(), L"InstallerVersion", REG_EXPAND_SZ, version, sizeof(version));
    testsupport::SetDword(testsupport::OperatorsKey(), L"666", 1);
    const LogMark mark = MarkLog();
    EXPECT_EQ(L"", GetInstalledQMTVersion());
    EXPECT_FALSE(NX_Helpers::NXIsUpToDateAlready());
    EXPECT_TRUE(Contains(mark.NewText(), L"Product is not installed. Returned error: 2"));
}

TEST_F(ProductProbes, VersionIsTakenUnchanged) {
    SeedProduct(L" 1.60.1 beta", true);
    EXPECT_EQ(L" 1.60.1 beta", GetInstalledQMTVersion());
}

TEST_F(ProductProbes, OperatorOfAnotherTypeCountsAsAbsent) {
    testsupport::SetString(testsupport::OperatorsKey(), L"666", L"1");
    const LogMark mark = MarkLog();
    EXPECT_FALSE(DCOperatorPresent());
    EXPECT_TRUE(Contains(mark.NewText(),
                         L"DCOperatorPresent: Operator is not found in Ovalis Agent\\Operators. Returned error: 2"));
}

TEST_F(ProductProbes, OperatorPresenceIgnoresItsNumber) {
    testsupport::SetDword(testsupport::OperatorsKey(), L"666", 0);
    EXPECT_TRUE(DCOperatorPresent());
    testsupport::RemoveProductState();
    const LogMark mark = MarkLog();
    EXPECT_FALSE(DCOperatorPresent());
    EXPECT_TRUE(Contains(mark.NewText(), L"Returned error: 1"));
}

TEST_F(ProductProbes, TooOldAndMalformedVersionsAreReportedAsTooOld) {
    SeedProduct(L"1.57", true);
    const LogMark mark = MarkLog();
    EXPECT_FALSE(NX_Helpers::UpgradeableHGInstalledForRetailOperator());
    EXPECT_TRUE(Contains(mark.NewText(),
                         L"NX_Helpers::UpgradeableHGInstalledForRetailOperator: Installed product is too old for this "
                         L"tool to work: 1.57. Need at least 1.57"));
}

TEST_F(ProductProbes, UpToDateVersionWithoutOperatorSaysSo) {
    SeedProduct(L"1.80.0", false);
    const LogMark mark = MarkLog();
    EXPECT_FALSE(NX_Helpers::NXIsUpToDateAlready());
    const std::wstring log = mark.NewText();
    EXPECT_TRUE(Contains(log, L"NX_Helpers::NXIsUpToDateAlready: NX is up to date already")) << log;
    EXPECT_TRUE(Contains(log, L"NX_Helpers::NXIsUpToDateAlready: DC operator is not present")) << log;
}

TEST_F(ProductProbes, ProductOfTheNativeViewIsNotSeen) {
    SeedProduct(L"1.71.0", true, L"2_1", View::Native64);
    EXPECT_FALSE(NX_Helpers::NXIsUpToDateAlready());
    EXPECT_FALSE(NX_Helpers::UpgradeableHGInstalledForRetailOperator());
    EXPECT_EQ(4, NX_Helpers::GetInstalledSecurityAppID());
}

struct MappingCase {
    const wchar_t* mapping;  // null: no value
    int appId;
};

TEST_F(ProductProbes, AppIdComesFromTheMappingBeforeItsUnderscore) {
    const MappingCase cases[] = {
        {L"2_1234", 2}, {L"7_x", 7}, {L"abc_1", 0}, {L"_1", 0}, {L"2", 4}, {L"", 4}, {nullptr, 4},
    };
    for (const MappingCase& c : cases) {
        testsupport::RemoveProductState();
        if (c.mapping) testsupport::SetString(testsupport::FamilyKey(), L"FamilyIDMapping", c.mapping);
        EXPECT_EQ(c.appId, NX_Helpers::GetInstalledSecurityAppID()) << (c.mapping ? c.mapping : L"(none)");
    }
}

TEST_F(ProductProbes, AppIdFallbacksSayWhy) {
    LogMark mark = MarkLog();
    EXPECT_EQ(4, NX_Helpers::GetInstalledSecurityAppID());
    EXPECT_TRUE(Contains(mark.NewText(), L"Failed to read family id mapping for security product. Error: 1. "
                                         L"Fallback to 4"));
    testsupport::SetString(testsupport::FamilyKey(), L"FamilyIDMapping", L"2");
    mark = MarkLog();
    EXPECT_EQ(4, NX_Helpers::GetInstalledSecurityAppID());
    EXPECT_TRUE(Contains(mark.NewText(), L"NX_Helpers::GetInstalledSecurityAppID: Mapping format is wrong, returning 4"));
}

class SingleInstanceMutex : public ::testing::Test {};

TEST_F(SingleInstanceMutex, OneHolderAtATime) {
    SingleInstanceLock first = NX_Helpers::AllocateSingleInstanceMutex();
    ASSERT_TRUE(first);
    // The owner thread may wait on its mutex again; another thread may not.
    bool secondAcquired = true;
    std::thread other([&] { secondAcquired = static_cast<bool>(NX_Helpers::AllocateSingleInstanceMutex()); });
    other.join();
    EXPECT_FALSE(secondAcquired);

    first = SingleInstanceLock();
    EXPECT_TRUE(NX_Helpers::AllocateSingleInstanceMutex());
}

TEST_F(SingleInstanceMutex, MutexLeftByADeadHolderIsNotTakenOver) {
    kv::unique_handle keepAlive(::CreateMutexW(nullptr, FALSE, NX_Helpers::kSingleInstanceMutexName));
    ASSERT_TRUE(keepAlive);
    // The thread ends without releasing: the mutex is abandoned.
    SingleInstanceLock* leftBehind = nullptr;
    std::thread dying([&] { leftBehind = new SingleInstanceLock(NX_Helpers::AllocateSingleInstanceMutex()); });
    dying.join();
    ASSERT_TRUE(leftBehind != nullptr && *leftBehind);
    const LogMark mark = MarkLog();
    EXPECT_FALSE(NX_Helpers::AllocateSingleInstanceMutex());
    EXPECT_TRUE(Contains(mark.NewText(),
                         L"NX_Helpers::AllocateSingleInstanceMutex: Single instance mutex cannot be aquired"));
    // The abandoned wait handed ownership to this thread.
    ::ReleaseMutex(keepAlive.get());
    delete leftBehind;
}

// The machine-wide name as a standard user may hold it before the tool runs,
// and the administrators' namespace as a private name of the test's; the
// owner is the case's, for the test platform keeps none.
class OwnerOfTheCase : public SingleInstanceLockApi {
public:
    explicit OwnerOfTheCase(ObjectOwner owner) : owner_(owner) {}
    HANDLE CreateMachineMutex(const wchar_t* name) override { return ::CreateMutexW(nullptr, FALSE, name); }
    ObjectOwner OwnerOf(HANDLE) override { return owner_; }
    HANDLE CreateAdministratorsMutex(const wchar_t* name) override {
        return ::CreateMutexW(nullptr, FALSE, (std::wstring(L"Local\\KvTestAdministrators_") + name).c_str());
    }

private:
    ObjectOwner owner_;
};

struct HeldNameCase {
    const char* name;
    ObjectOwner holder;
    bool runs;  // whether this copy gets the lock while the name is held
};

class SingleInstanceHeldName : public ::testing::TestWithParam<HeldNameCase> {};

TEST_P(SingleInstanceHeldName, OnlyAnElevatedHolderIsAnotherCopy) {
    OwnerOfTheCase api(GetParam().holder);
    kv::unique_handle name(::CreateMutexW(nullptr, FALSE, NX_Helpers::kSingleInstanceMutexName));
    kv::unique_handle held(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    kv::unique_handle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread holder([&] {
        ::WaitForSingleObject(name.get(), INFINITE);
        ::SetEvent(held.get());
        ::WaitForSingleObject(done.get(), INFINITE);
        ::ReleaseMutex(name.get());
    });
    ::WaitForSingleObject(held.get(), INFINITE);

    SingleInstanceLock first = NX_Helpers::AllocateSingleInstanceMutex(api);
    EXPECT_EQ(GetParam().runs, static_cast<bool>(first));
    // Beside a copy that runs, a second elevated copy still finds it.
    bool secondAcquired = true;
    std::thread second([&] { secondAcquired = static_cast<bool>(NX_Helpers::AllocateSingleInstanceMutex(api)); });
    second.join();
    EXPECT_FALSE(secondAcquired);

    ::SetEvent(done.get());
    holder.join();
}

// Any user may create an object of another kind under the name.
TEST_F(SingleInstanceMutex, AnEventUnderTheNameDoesNotStopTheRun) {
    OwnerOfTheCase api(ObjectOwner::Administrators);
    kv::unique_handle squatter(::CreateEventW(nullptr, TRUE, FALSE, NX_Helpers::kSingleInstanceMutexName));
    ASSERT_TRUE(squatter);
    EXPECT_TRUE(NX_Helpers::AllocateSingleInstanceMutex(api));
}

INSTANTIATE_TEST_SUITE_P(Holders, SingleInstanceHeldName,
                         ::testing::Values(HeldNameCase{"StandardUser", ObjectOwner::Other, true},
                                           HeldNameCase{"ElevatedCopy", ObjectOwner::Administrators, false},
                                           HeldNameCase{"OwnerUnreadable", ObjectOwner::Unknown, false}),
                         [](const ::testing::TestParamInfo<HeldNameCase>& info) { return info.param.name; });

}  // namespace

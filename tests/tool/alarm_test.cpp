// Tests of the alarm analysis over hand-built vluns, paths and physical
// paths: each rule, each duplicate rule, the order of the list, the fields
// the analysis writes back into vluns, the cut of long sentences and the
// verbose messages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "boundedfunc.h"
#include "checks/tsalarm.h"
#include "flushed_output.h"
#include "records/tstopology.h"
#include "rendering/tsprint.h"

namespace {

constexpr const char* kSn1 = "2102351234ABCDEF0001";
constexpr const char* kSn2 = "3309871234FEDCBA0002";

template <size_t N>
void Set(TsText<N>& field, const std::string& text) {
    if (sprintf_s(field.data(), N, "%s", text.c_str()) != static_cast<int>(text.size())) {
        ADD_FAILURE() << "'" << text << "' does not fit a field of " << N;
    }
}

class Alarms : public testing::Test {
  protected:
    void SetUp() override {
        for (ListHead* list : {&g_tsvlunlist, &g_tsphypathlist, &g_tsdevicelist, &g_tsalarmlist}) {
            INIT_LIST_HEAD(list);
        }
    }
    void TearDown() override {
        tsprint_SetLogLevel(99);
        ListHead* vlunLink = g_tsvlunlist.next;
        while (vlunLink != &g_tsvlunlist) {
            ListHead* nextVlun = vlunLink->next;
            VlunInfo* vlun = list_entry(vlunLink, VlunInfo, stList);
            ListHead* pathLink = vlun->stPathList.next;
            while (pathLink != &vlun->stPathList) {
                ListHead* nextPath = pathLink->next;
                free(list_entry(pathLink, PathInfo, stList));
                pathLink = nextPath;
            }
            free(vlun);
            vlunLink = nextVlun;
        }
        FreeAll<PhypathInfo>(&g_tsphypathlist);
        FreeAll<AlarmInfo>(&g_tsalarmlist);
    }

    template <typename T>
    static void FreeAll(ListHead* head) {
        ListHead* link = head->next;
        while (link != head) {
            ListHead* next = link->next;
            free(list_entry(link, T, stNode));
            link = next;
        }
        INIT_LIST_HEAD(head);
    }

    template <typename T>
    static T* Allocate() {
        return static_cast<T*>(calloc(1, sizeof(T)));
    }

    static VlunInfo* AddVlun(const std::string& name, const std::string& wwn,
                             const std::string& serial = kSn1) {
        auto* vlun = Allocate<VlunInfo>();
        tstopo_InitVlunInfoToDefault(vlun);
        Set(vlun->stDev.acDevName, name);
        Set(vlun->acDmWwn, wwn);
        Set(vlun->stDev.acArraySn, serial);
        list_add_tail(&vlun->stList, &g_tsvlunlist);
        return vlun;
    }
    static PathInfo* AddPath(VlunInfo* vlun, const std::string& name, const std::string& status,
                             const std::string& ctrl, const std::string& host = "h1",
                             const std::string& target = "t1") {
        auto* path = Allocate<PathInfo>();
        tstopo_InitPathInfoToDefault(path, vlun);
        Set(path->stDev.acDevName, name);
        Set(path->stDev.acStatus, status);
        Set(path->stDev.acCtrl, ctrl);
        Set(path->stDev.acHostWwn, host);
        Set(path->stDev.acTargetWwn, target);
        list_add_tail(&path->stList, &vlun->stPathList);
        return path;
    }
    // As discovery makes one: zero-filled, status "--" unless given.
    static PhypathInfo* AddPhypath(const std::string& host, const std::string& target,
                                   const std::string& status, const std::string& ctrl,
                                   const std::string& serial = kSn1) {
        auto* phypath = Allocate<PhypathInfo>();
        Set(phypath->acAlias, "#:#:#");
        Set(phypath->acStatus, status);
        Set(phypath->acHostWwn, host);
        Set(phypath->acTargetWwn, target);
        Set(phypath->acCtrl, ctrl);
        Set(phypath->acArrayName, "Array-01");
        Set(phypath->acArraySn, serial);
        list_add_tail(&phypath->stNode, &g_tsphypathlist);
        return phypath;
    }

    static std::vector<int> Types() {
        std::vector<int> types;
        for (ListHead* link = g_tsalarmlist.next; link != &g_tsalarmlist; link = link->next) {
            types.push_back(list_entry(link, AlarmInfo, stNode)->iType);
        }
        return types;
    }
    static std::vector<std::string> Descriptions() {
        std::vector<std::string> texts;
        for (ListHead* link = g_tsalarmlist.next; link != &g_tsalarmlist; link = link->next) {
            texts.emplace_back(list_entry(link, AlarmInfo, stNode)->acDescription.data());
        }
        return texts;
    }
    static void Analyze() {
        AnalyzeAlarmPhypathTopology();
        AnalyzeAlarmVlunTopology();
    }
};

using TypeList = std::vector<int>;
using Texts = std::vector<std::string>;

// --- Physical paths ------------------------------------------------------------

TEST_F(Alarms, PhypathDownAndTheOnlyActiveOneGive11Then12) {
    AddPhypath("h1", "t1", "active", "A");
    AddPhypath("h2", "t2", "--", "B");
    AnalyzeAlarmPhypathTopology();
    EXPECT_EQ(Types(), (TypeList{11, 12}));
    EXPECT_EQ(Descriptions(),
              (Texts{"The phypath (host wwn:h2, controller:B, target wwn:t2) of array "
                     "(name:Array-01, sn:2102351234ABCDEF0001) is abnormal.",
                     "The array (name:Array-01, sn:2102351234ABCDEF0001) cannot be accessed "
                     "through a redundant phypath."}));
    const AlarmInfo* alarm = list_entry(g_tsalarmlist.prev, AlarmInfo, stNode);
    EXPECT_STREQ(alarm->acLevel.data(), "[Major]");
    EXPECT_STREQ(alarm->unSubject.stPhypath.acHostWwn.data(), "h1");
}

TEST_F(Alarms, PhypathRedundancyIsCountedPerArray) {
    // Array 1: two active on A (one without a controller is no reference):
    // 13. Array 2: one active phypath: 12, although the host as a whole has
    // three active phypaths.
    AddPhypath("h1", "t0", "active", "");
    AddPhypath("h1", "t1", "active", "A");
    AddPhypath("h2", "t2", "active", "A", kSn2);
    AnalyzeAlarmPhypathTopology();
    EXPECT_EQ(Types(), (TypeList{13, 12}));
    EXPECT_EQ(Descriptions(), (Texts{"The array (name:Array-01, sn:2102351234ABCDEF0001) cannot "
                                     "be accessed through a redundant controller.",
                                     "The array (name:Array-01, sn:3309871234FEDCBA0002) cannot "
                                     "be accessed through a redundant phypath."}));
}

TEST_F(Alarms, EachArrayOnItsOwnControllerGetsItsOwn13) {
    // Controllers A and B are both in use on the host, but each array is
    // reached over one of them only; the arrays come in first-seen order.
    AddPhypath("h1", "t1", "active", "A", kSn2);
    AddPhypath("h1", "t2", "active", "B");
    AddPhypath("h2", "t3", "active", "A", kSn2);
    AddPhypath("h2", "t4", "active", "B");
    AddPhypath("h2", "t5", "--", "A");
    AnalyzeAlarmPhypathTopology();
    EXPECT_EQ(Types(), (TypeList{11, 13, 13}));
    EXPECT_STREQ(list_entry(g_tsalarmlist.next->next, AlarmInfo, stNode)
                     ->unSubject.stPhypath.acArraySn.data(),
                 kSn2);
    EXPECT_STREQ(
        list_entry(g_tsalarmlist.prev, AlarmInfo, stNode)->unSubject.stPhypath.acTargetWwn.data(),
        "t2");
}

TEST_F(Alarms, PhypathsOnTwoControllersOrWithoutReferenceRaiseNothing) {
    AddPhypath("h1", "t1", "active", "A");
    AddPhypath("h2", "t2", "active", "B");
    AnalyzeAlarmPhypathTopology();
    EXPECT_TRUE(Types().empty());

    FreeAll<PhypathInfo>(&g_tsphypathlist);
    AddPhypath("h1", "t1", "active", "--");  // one active, no controller value
    AnalyzeAlarmPhypathTopology();
    EXPECT_TRUE(Types().empty());

    FreeAll<PhypathInfo>(&g_tsphypathlist);
    AddPhypath("h1", "t1", "--", "A");  // none active: 11 only, no 12 nor 13
    AnalyzeAlarmPhypathTopology();
    EXPECT_EQ(Types(), (TypeList{11}));
}

TEST_F(Alarms, PhypathWithoutBothPortIdentifiersIsIgnored) {
    AddPhypath("h1", "--", "--", "A");
    AddPhypath("", "t1", "--", "A");
    AddPhypath("h3", "--/--", "active", "A");
    AnalyzeAlarmPhypathTopology();
    EXPECT_TRUE(Types().empty());
}

// --- Vluns ------------------------------------------------------------------------

TEST_F(Alarms, ThreePathsTwoDownGiveTwo18AndOne15) {
    VlunInfo* vlun = AddVlun("dm-0", "6e0f01");
    AddPath(vlun, "sdb", "--", "A", "h1", "t1");
    AddPath(vlun, "sdc", "active", "A", "h1", "t2");
    AddPath(vlun, "sdd", "failed", "B", "h2", "t3");
    AnalyzeAlarmVlunTopology();
    EXPECT_EQ(Types(), (TypeList{18, 18, 15}));
    EXPECT_EQ(Descriptions(),
              (Texts{"The path (alias:sdb, host wwn:h1, controller:A, target wwn:t1) of vlun "
                     "(alias:dm-0, wwn:6e0f01) is abnormal.",
                     "The path (alias:sdd, host wwn:h2, controller:B, target wwn:t3) of vlun "
                     "(alias:dm-0, wwn:6e0f01) is abnormal.",
                     "The vlun (alias:dm-0, wwn:6e0f01) cannot be accessed through a redundant "
                     "path."}));
}

TEST_F(Alarms, AllPathsDownLeaveOne14AndRemoveOnlyThatVlunsPathAlarms) {
    VlunInfo* other = AddVlun("dm-0", "6e0f00");
    AddPath(other, "sda", "--", "A", "h9", "t9");
    AddPath(other, "sdb", "active", "A");
    AddPath(other, "sdc", "active", "B");
    VlunInfo* vlun = AddVlun("dm-1", "6e0f01");
    AddPath(vlun, "sdd", "--", "A");
    AddPath(vlun, "sde", "--", "B");
    AnalyzeAlarmVlunTopology();
    EXPECT_EQ(Types(), (TypeList{18, 14}));
    EXPECT_EQ(Descriptions()[1], "All paths of vlun (alias:dm-1, wwn:6e0f01) are abnormal");
    EXPECT_STREQ(list_entry(g_tsalarmlist.next, AlarmInfo, stNode)->unSubject.stPath.acAlias.data(),
                 "sda");
}

TEST_F(Alarms, VlunWithoutPathsGives14) {
    AddVlun("dm-7", "6e0f07");
    AnalyzeAlarmVlunTopology();
    EXPECT_EQ(Types(), (TypeList{14}));
}

TEST_F(Alarms, VlunControllerRedundancy) {
    VlunInfo* ab = AddVlun("dm-0", "w0");  // A and B: nothing
    AddPath(ab, "sdb", "active", "A");
    AddPath(ab, "sdc", "active", "B");
    VlunInfo* aNone = AddVlun("dm-1", "w1");  // A, then no controller: counts as different
    AddPath(aNone, "sdd", "active", "A");
    AddPath(aNone, "sde", "active", "--");
    VlunInfo* aa = AddVlun("dm-2", "w2");  // A and A: 16, acCtrl becomes A
    AddPath(aa, "sdf", "active", "A");
    AddPath(aa, "sdg", "active", "A");
    VlunInfo* noneB = AddVlun("dm-3", "w3");  // no controller, then B: B is the reference
    AddPath(noneB, "sdh", "active", "--");
    AddPath(noneB, "sdi", "active", "B");
    VlunInfo* none = AddVlun("dm-4", "w4");  // no controller at all: no reference, nothing
    AddPath(none, "sdj", "active", "--");
    AddPath(none, "sdk", "active", "");
    AnalyzeAlarmVlunTopology();
    EXPECT_EQ(Types(), (TypeList{16, 16}));
    EXPECT_EQ(Descriptions(), (Texts{"The vlun (alias:dm-2, wwn:w2) cannot be accessed through a "
                                     "redundant controller.",
                                     "The vlun (alias:dm-3, wwn:w3) cannot be accessed through a "
                                     "redundant controller."}));
    EXPECT_STREQ(aa->stDev.acCtrl.data(), "A");
    EXPECT_STREQ(noneB->stDev.acCtrl.data(), "B");
    EXPECT_STREQ(ab->stDev.acCtrl.data(), "--");
    EXPECT_STREQ(list_entry(g_tsalarmlist.prev, AlarmInfo, stNode)->unSubject.stVlun.acCtrl.data(),
                 "B");
}

TEST_F(Alarms, InactivePathsDoNotCountForTheControllerTest) {
    VlunInfo* vlun = AddVlun("dm-0", "w0");
    AddPath(vlun, "sdb", "active", "A");
    AddPath(vlun, "sdc", "--", "B");
    AddPath(vlun, "sdd", "active", "A");
    AnalyzeAlarmVlunTopology();
    EXPECT_EQ(Types(), (TypeList{18, 16}));
}

TEST_F(Alarms, IdentifierChangeGives17WithTheLastDifferingPath) {
    VlunInfo* vlun = AddVlun("dm-0", "6e0f01");
    Set(AddPath(vlun, "sdb", "active", "A")->stDev.acLunWwn, "6e0f01");  // same: no change
    Set(AddPath(vlun, "sdc", "active", "B")->stDev.acLunWwn, "aaaa");
    Set(AddPath(vlun, "sdd", "active", "B")->stDev.acLunWwn, "bbbb");
    Set(AddPath(vlun, "sde", "--", "B")->stDev.acLunWwn, "cccc");  // inactive: not looked at
    Set(AddPath(vlun, "sdf", "active", "B")->stDev.acLunWwn, "--");
    tsprint_SetLogLevel(0);
    const std::string out = Flushed([] { AnalyzeAlarmVlunTopology(); });
    EXPECT_EQ(Types(), (TypeList{18, 17}));
    EXPECT_EQ(Descriptions()[1], "The wwn(6e0f01) of vlun(alias:dm-0) are change to wwn(bbbb).");
    EXPECT_STREQ(vlun->stDev.acLunWwn.data(), "bbbb");
    EXPECT_EQ(out,
              "Create alarm with type[18].\n"
              "Create alarm with type[17].\n"
              "The vlun[dm-0] with wwn[6e0f01] change to wwn[bbbb].\n");
}

TEST_F(Alarms, NoIdentifierChangeWhenTheVlunHasNoWwn) {
    VlunInfo* vlun = AddVlun("dm-0", "--");
    Set(AddPath(vlun, "sdb", "active", "A")->stDev.acLunWwn, "aaaa");
    Set(AddPath(vlun, "sdc", "active", "B")->stDev.acLunWwn, "aaaa");
    AnalyzeAlarmVlunTopology();
    EXPECT_TRUE(Types().empty());
    EXPECT_STREQ(vlun->stDev.acLunWwn.data(), "--");
}

// --- Duplicates ---------------------------------------------------------------------

TEST_F(Alarms, PathAlarmCoveredByItsPhypathAlarm) {
    // End to end a path with port identifiers has answered an INQUIRY, which
    // makes its phypath active; only hand-built lists reach this rule.
    AddPhypath("h1", "t1", "--", "A");
    AddPhypath("h2", "t2", "active", "A");
    AddPhypath("h3", "t3", "active", "B");
    VlunInfo* vlun = AddVlun("dm-0", "w0");
    AddPath(vlun, "sdb", "--", "A", "h1", "t1");  // covered by the 11
    AddPath(vlun, "sdc", "--", "A", "h1", "t2");  // same host, other target: raised
    AddPath(vlun, "sdd", "active", "A", "h2", "t2");
    AddPath(vlun, "sde", "active", "B", "h3", "t3");
    Analyze();
    EXPECT_EQ(Types(), (TypeList{11, 18}));
    EXPECT_EQ(Descriptions()[1],
              "The path (alias:sdc, host wwn:h1, controller:A, target wwn:t2) of vlun "
              "(alias:dm-0, wwn:w0) is abnormal.");
}

// Two iSCSI sessions from one initiator name to one target port are two
// physical paths with the same port pair. The one down raises its 11 and
// covers its own paths; a dead path over the session that is up is not
// explained by it. With both down the second 11 would repeat the first word
// for word: one stands for the pair. The same through the index.
TEST_F(Alarms, TwoSessionsToOneTargetPort) {
    const std::string iqn = "iqn.1993-08.org.debian:01:5e2f8a9c0d41";
    const std::string a0 = "iqn.2006-08.com.qelmar:vsa1000.a0,t,0x0001";
    const std::string b1 = "iqn.2006-08.com.qelmar:vsa1000.b1,t,0x0102";
    const std::string eleven = "The phypath (host wwn:" + iqn +
                               ", controller:--, target wwn:" + a0 +
                               ") of array (name:Array-01, sn:" + kSn1 + ") is abnormal.";
    for (int indexed = 0; indexed < 2; ++indexed) {
        for (bool bothDown : {false, true}) {
            PhypathInfo* down = AddPhypath(iqn, a0, "FAILED", "--");
            PhypathInfo* up =
                AddPhypath(iqn, a0, bothDown ? "FREE" : "active", bothDown ? "--" : "A");
            PhypathInfo* other = AddPhypath(iqn, b1, "active", "B");
            VlunInfo* vlun = AddVlun("dm-0", "w0");
            AddPath(vlun, "sdb", "--", "--", iqn, a0)->pstPhypath = down;
            AddPath(vlun, "sde", bothDown ? "--" : "active", "A", iqn, a0)->pstPhypath = up;
            AddPath(vlun, "sdh", "--", "A", iqn, a0)->pstPhypath = up;
            AddPath(vlun, "sdk", "active", "B", iqn, b1)->pstPhypath = other;
            tsalarm_IndexAlarms(indexed);
            Analyze();
            tsalarm_IndexAlarms(0);
            const std::string mode = indexed ? " indexed" : " walked";
            if (bothDown) {
                // sdk alone is left: the 12 of the array, which its vlun's 15 gives way to.
                EXPECT_EQ(Types(), (TypeList{11, 12})) << mode;
            } else {
                EXPECT_EQ(Types(), (TypeList{11, 18})) << mode;
                EXPECT_EQ(Descriptions().at(1), "The path (alias:sdh, host wwn:" + iqn +
                                                    ", controller:A, target wwn:" + a0 +
                                                    ") of vlun (alias:dm-0, wwn:w0) is abnormal.")
                    << mode;
            }
            EXPECT_EQ(Descriptions().at(0), eleven) << mode;
            TearDown();
            SetUp();
        }
    }
}

TEST_F(Alarms, PathAlarmAfterThe14OfItsVlunIsDropped) {
    VlunInfo* vlun = AddVlun("dm-0", "w0");
    PathInfo* path = AddPath(vlun, "sdb", "--", "A");
    ASSERT_NE(CreateAlarmWithTypeInfo(14, vlun), nullptr);
    EXPECT_EQ(CreateAlarmWithTypeInfo(18, path), nullptr);
    EXPECT_EQ(Types(), (TypeList{14}));
}

TEST_F(Alarms, ArrayAlarmsSuppressVlunAlarmsOfTheSameArrayOnly) {
    // Phypaths: one active on A of array 1: 12 (sn 1).
    AddPhypath("h1", "t1", "active", "A");
    AddPhypath("h2", "t2", "--", "B");
    VlunInfo* same = AddVlun("dm-0", "w0", kSn1);
    AddPath(same, "sdb", "active", "A", "h1", "t1");
    VlunInfo* other = AddVlun("dm-1", "w1", kSn2);
    AddPath(other, "sdc", "active", "A", "h1", "t1");
    Analyze();
    EXPECT_EQ(Types(), (TypeList{11, 12, 15}));
    EXPECT_EQ(Descriptions()[2],
              "The vlun (alias:dm-1, wwn:w1) cannot be accessed through a redundant path.");
}

TEST_F(Alarms, OneControllerOfTheArraySuppressesThe16OfItsVluns) {
    AddPhypath("h1", "t1", "active", "A");
    AddPhypath("h2", "t2", "active", "A");
    VlunInfo* same = AddVlun("dm-0", "w0", kSn1);
    AddPath(same, "sdb", "active", "A", "h1", "t1");
    AddPath(same, "sdc", "active", "A", "h2", "t2");
    VlunInfo* other = AddVlun("dm-1", "w1", kSn2);
    AddPath(other, "sdd", "active", "A", "h1", "t1");
    AddPath(other, "sde", "active", "A", "h2", "t2");
    Analyze();
    EXPECT_EQ(Types(), (TypeList{13, 16}));
    EXPECT_NE(Descriptions()[1].find("alias:dm-1"), std::string::npos);
    // The vlun's controller is written even when its 16 is dropped.
    EXPECT_STREQ(same->stDev.acCtrl.data(), "A");
}

TEST_F(Alarms, SerialsWithoutValueNameNoArray) {
    // Deliberate change: "--" serials on both sides do not suppress 15 or 16.
    AddPhypath("h1", "t1", "active", "A", "--");
    VlunInfo* one = AddVlun("dm-0", "w0", "--");
    AddPath(one, "sdb", "active", "A", "h1", "t1");
    Analyze();
    EXPECT_EQ(Types(), (TypeList{12, 15}));

    FreeAll<AlarmInfo>(&g_tsalarmlist);
    FreeAll<PhypathInfo>(&g_tsphypathlist);
    AddPhypath("h1", "t1", "active", "A", "--");
    AddPhypath("h2", "t2", "active", "A", "--");
    VlunInfo* two = AddVlun("dm-1", "w1", "--");
    AddPath(two, "sdc", "active", "A", "h1", "t1");
    AddPath(two, "sdd", "active", "A", "h2", "t2");
    AnalyzeAlarmPhypathTopology();
    AnalyzeAlarmVlunTopology();
    // dm-0 again (15), then dm-1 (16), both kept beside the 13.
    EXPECT_EQ(Types(), (TypeList{13, 15, 16}));
}

// --- The constructor -------------------------------------------------------------

TEST_F(Alarms, ConstructorRefusesMissingSubjectAndUnknownTypes) {
    VlunInfo* vlun = AddVlun("dm-0", "w0");
    EXPECT_EQ(CreateAlarmWithTypeInfo(14, nullptr), nullptr);
    EXPECT_EQ(CreateAlarmWithTypeInfo(9, vlun), nullptr);
    EXPECT_EQ(CreateAlarmWithTypeInfo(19, vlun), nullptr);
    EXPECT_TRUE(Types().empty());
    const AlarmInfo* alarm = CreateAlarmWithTypeInfo(10, nullptr);
    ASSERT_NE(alarm, nullptr);
    EXPECT_STREQ(alarm->acDescription.data(), "The multipath is invalid.");
    EXPECT_STREQ(alarm->acLevel.data(), "[Major]");
}

TEST_F(Alarms, LongSentenceKeepsItsFirst511Characters) {
    // Deliberate change: cut, not emptied.
    const std::string host(255, 'h');
    const std::string target(255, 't');
    VlunInfo* vlun = AddVlun("dm-0", "w0");
    PathInfo* path = AddPath(vlun, "sdb", "--", "A", host, target);
    const AlarmInfo* alarm = CreateAlarmWithTypeInfo(18, path);
    ASSERT_NE(alarm, nullptr);
    const std::string full = "The path (alias:sdb, host wwn:" + host +
                             ", controller:A, target wwn:" + target +
                             ") of vlun (alias:dm-0, wwn:w0) is abnormal.";
    EXPECT_EQ(std::string(alarm->acDescription.data()), full.substr(0, 511));
}

TEST_F(Alarms, SentenceOf511CharactersIsKeptWhole) {
    // 11 with host and target making the sentence exactly 511 long.
    const std::string fixed =
        "The phypath (host wwn:, controller:A, target wwn:) of array (name:Array-01, "
        "sn:2102351234ABCDEF0001) is abnormal.";
    const size_t room = 511 - fixed.size();
    const std::string host(room / 2, 'h');
    const std::string target(room - room / 2, 't');
    AddPhypath(host, target, "--", "A");
    AnalyzeAlarmPhypathTopology();
    EXPECT_EQ(Descriptions(),
              (Texts{"The phypath (host wwn:" + host + ", controller:A, target wwn:" + target +
                     ") of array (name:Array-01, sn:2102351234ABCDEF0001) is "
                     "abnormal."}));
    EXPECT_EQ(Descriptions()[0].size(), 511U);
}

// --- The whole analysis, verbose ------------------------------------------------------

TEST_F(Alarms, OrderOfAlarmsAndVerboseMessages) {
    AddPhypath("h1", "t1", "active", "A");
    AddPhypath("h1", "t2", "--", "B");
    VlunInfo* first = AddVlun("dm-0", "w0", kSn2);
    AddPath(first, "sdb", "--", "B", "h1", "t3");
    Set(AddPath(first, "sdc", "active", "A", "h1", "t1")->stDev.acLunWwn, "x0");
    VlunInfo* second = AddVlun("dm-1", "w1", kSn2);
    AddPath(second, "sdd", "--", "A", "h9", "t9");
    tsprint_SetLogLevel(0);
    const std::string out = Flushed([] { Analyze(); });
    EXPECT_EQ(Types(), (TypeList{11, 12, 18, 15, 17, 14}));
    EXPECT_EQ(out,
              "Create alarm with type[11].\n"
              "Create alarm with type[12].\n"
              "Create alarm with type[18].\n"
              "Create alarm with type[15].\n"
              "Create alarm with type[17].\n"
              "The vlun[dm-0] with wwn[w0] change to wwn[x0].\n"
              "Create alarm with type[18].\n"
              "Create alarm with type[14].\n");
}

// The duplicate rules answered through the alarm index keep and remove the
// same alarms as the walk over the list: random hosts with shared and
// prefix-sharing WWNs, aliases and serials, every path state mixed, paths
// over active and inactive phypaths.
TEST_F(Alarms, IndexedDuplicateRulesMatchTheWalk) {
    const char* wwns[] = {"h1", "h", "h10", "--"};
    const char* targets[] = {"t1", "t", "t10", "t2", "--"};
    const char* serials[] = {kSn1, kSn2, "--"};
    const char* ctrls[] = {"A", "B", "--"};
    const char* statuses[] = {"active", "--", "failed"};
    for (unsigned round = 0; round < 40; ++round) {
        std::vector<std::string> runs[2];
        for (int indexed = 0; indexed < 2; ++indexed) {
            unsigned seed = round * 7919U + 1U;
            auto next = [&seed](unsigned range) {
                seed = seed * 1103515245U + 12345U;
                return (seed >> 16) % range;
            };
            std::vector<PhypathInfo*> phypaths;
            for (unsigned i = 0, n = next(6); i < n; ++i) {
                phypaths.push_back(AddPhypath(wwns[next(4)], targets[next(5)], statuses[next(3)],
                                              ctrls[next(3)], serials[next(3)]));
            }
            for (unsigned v = 0, vluns = 1 + next(8); v < vluns; ++v) {
                // Aliases repeat: "dm-1" may stand for two vluns, "dm-" is a prefix.
                VlunInfo* vlun = AddVlun(next(5) == 0 ? "dm-" : "dm-" + std::to_string(next(4)),
                                         "w" + std::to_string(v), serials[next(3)]);
                for (unsigned k = 0, paths = next(5); k < paths; ++k) {
                    PathInfo* path = AddPath(vlun, "sd" + std::to_string(k), statuses[next(3)],
                                             ctrls[next(3)], wwns[next(4)], targets[next(5)]);
                    if (next(4) == 0) {
                        Set(path->stDev.acLunWwn, "x" + std::to_string(v));
                    }
                    // Linked to a phypath, any (a port pair shared by two), or to none.
                    const unsigned link = next(static_cast<unsigned>(phypaths.size()) + 1);
                    path->pstPhypath = link < phypaths.size() ? phypaths[link] : nullptr;
                }
            }
            tsalarm_IndexAlarms(indexed);
            Analyze();
            tsalarm_IndexAlarms(0);
            const TypeList types = Types();
            const Texts texts = Descriptions();
            for (size_t i = 0; i < types.size(); ++i) {
                runs[indexed].push_back(std::to_string(types[i]) + " " + texts[i]);
            }
            TearDown();
            SetUp();
        }
        EXPECT_EQ(runs[1], runs[0]) << "round " << round;
    }
}

TEST_F(Alarms, MessagesAreSilentAboveLevel0) {
    tsprint_SetLogLevel(1);
    VlunInfo* vlun = AddVlun("dm-0", "w0");
    Set(AddPath(vlun, "sdb", "active", "A")->stDev.acLunWwn, "x0");
    EXPECT_EQ(Flushed([] { AnalyzeAlarmVlunTopology(); }), "");
    EXPECT_EQ(Types(), (TypeList{15, 17}));
}

}  // namespace

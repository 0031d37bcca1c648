// SPDX-License-Identifier: Apache-2.0
// Pinyin typed through the real server as a typist types it: spellings, the sentence corpus,
// fuzzy sounds, custom phrases and mixed English.
#include <fstream>

#include "tests/e2e/server_process.h"

namespace kavi::win::testing {
namespace {

std::vector<std::string> Texts(const PipeResponse& state) {
  std::vector<std::string> texts;
  for (uint32_t i = 0; i < state.candidate_count; ++i)
    texts.push_back(Field(state.candidates[i].text));
  return texts;
}

// Types `input`, cancels it again, and gives the candidates it showed.
std::vector<std::string> Candidates(KaviClient& client, const std::string& input) {
  const PipeResponse state = Type(client, input);
  client.SendKey(keys::kEscape, 0, 1);
  return Texts(state);
}

int IndexOf(const std::vector<std::string>& texts, const std::string& text) {
  auto it = std::find(texts.begin(), texts.end(), text);
  return it == texts.end() ? -1 : static_cast<int>(it - texts.begin());
}

// The watcher reloads on its own thread: types `input` until `shown` holds for its candidates.
template <typename Shown>
std::vector<std::string> TypeUntil(KaviClient& client, const std::string& input, Shown shown) {
  std::vector<std::string> texts;
  for (int i = 0; i < 300; ++i) {
    texts = Candidates(client, input);
    if (shown(texts)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return texts;
}

class PinyinTyping : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(home_.config_dir());
    home_.StartServer();
    ASSERT_TRUE(client_.Send(RequestKind::FocusIn, 1));
  }
  void WriteUserFile(const std::string& name, const std::string& text) {
    std::ofstream(home_.config_dir() / name, std::ios::binary) << text;
  }

  ServerHome home_;
  KaviClient client_{home_.Options()};
};

// The first candidate of whole sentences typed key by key with the shipped scheme: what the
// sentence search finds with libime's default beam (odd ones included), with no spelling
// correction of the scheme changing it. A narrower, faster search or another correction must
// find the same.
TEST_F(PinyinTyping, SentencesKeepTheirFirstCandidate) {
  const std::pair<const char*, const char*> corpus[] = {
      {"zhegexiangmuhenyouyisi", "这个项目很有意思"},
      {"woaibeijingtiananmen", "我爱北京天安门"},
      {"jintiantianqizhenhao", "今天天气真好"},
      {"zhonghuarenmingongheguo", "中华人民共和国"},
      {"zhonghuarenmingongheguochenglilezhongyangrenminzhengfu",
       "中华人民共和国成立了中央人民政府"},
      {"jintiantianqihenhaowomenyiqiquchuyouba", "今天天气很好我们一起去处有八"},
      {"zhegewentiyijingjiejueleqingdajiafangxin", "这个问题已经解决了请大家放心"},
      {"womendemubiaoshijianshegengmeihaodeshenghuo", "我们的目标是建设更美好的生活"},
      {"woxianzaizaixuexizhongwenshurufa", "我现在在学习中文输入法"},
      {"zhegewentiwomenmingtianzaitaolun", "这个问题我们明天再讨论"},
      {"qingnibangwokanyixiazhegewenjian", "请你帮我看一下这个文件"},
      {"mingtianxiawusandianzaihuiyishikaihui", "明天下午三点在会议室开会"},
      {"tamenzuotianqulebeijingdegugong", "他们昨天去了北京的故宫"},
      {"zheshiyigefeichangzhongyaodejueding", "这是一个非常重要的决定"},
      {"womenyinggaijiaqianghezuo", "我们应该加强合作"},
      {"xiexienidebangzhu", "谢谢你的帮助"},
      {"wozhengzaixiedaima", "我正在写代码"},
      {"zhegechengxuyunxingdehenkuai", "这个程序运行的很快"},
      {"qingbayixiaxiaolianjie", "请把一下小连接"},
      {"dajiahaohuanyingcanjiajintiandehuiyi", "大家好欢迎参加今天的回忆"},
      {"wodedianhuahaomashi", "我的电话号码是"},
      {"tadeshuofahenyoudaoli", "他的说法很有道理"},
      {"jishuyaofuwuyurenmin", "技术要服务于人民"},
      {"xuexishiyijianfeichangyouqudeshiqing", "学习是一件非常有趣的事情"},
      {"womenyiqunianjia", "我们以去年加"},
      {"chunjiekuailewanshiruyi", "春节快乐万事如意"},
      {"zhongguoyougeyoujiudelishi", "中国有个悠久的历史"},
      {"shurufadexingnengfeichangzhongyao", "输入法的性能非常重要"},
      {"qingzaixiamiandeshurukuangzhongshuru", "请在下面的输入框中输入"},
      {"zhegebenzibijiaogui", "这个本子比较贵"},
      {"ruguonimangmingtianzaishuoba", "如果你忙明天再说吧"},
      {"wofaxianzhegedifanghenpiaoliang", "我发现这个地方很漂亮"},
      {"nijintianchifanlema", "你今天吃饭了吗"},
      {"zhoumowomenqupashanba", "周末我们去爬山吧"},
      {"zhebenshudeneirongfeichangfengfu", "这本书的内容非常丰富"},
      {"qingbachuanghuguanshang", "请把窗户关上"},
      {"tadeyuedushuipingtigaolehenduo", "他的阅读水平提高了很多"},
      {"xuexiaoliyouhenduoxuesheng", "学校里有很多学生"},
      {"zhegelvshihenyoujingyan", "这个律师很有经验"},
      {"womenxuyaozhidingxindecelve", "我们需要制定新的策略"},
      {"shuiguoshichangdexiangjiaohenpianyi", "水果市场的橡胶很便宜"},
      {"zhecilvxingrangwoyinxiangshenke", "这次旅行让我印象深刻"},
      {"yinyuehuideyanchuhenchenggong", "音乐会的演出很成功"},
      {"tianqizhuanlengleqingduochuanyifu", "天气转愣了请多穿衣服"},
      {"wodeshoujimeidianle", "我的手机没电了"},
      {"zhelidefengjingzhenmei", "这里的风景真没"},
      {"mamazaichufangzuowanfan", "妈妈在厨房做晚饭"},
      {"gongsixiagexingqikaishifangjia", "公司下个星期开始放假"},
      {"wangluosuduyoudianman", "网络速度有点慢"},
      {"qingbawenjianfadaowodeyouxiang", "请把文件发到我的邮箱"},
      {"haizimenzaicaochangshangtiqiu", "孩子们在操场上踢球"},
      {"laoshibuzhilehenduozuoye", "老师布置了很多作业"},
      {"yiyuandeyishengfeichangnaixin", "医院的医生非常耐心"},
      {"tamenjihuaxiayuejiehun", "他们计划下月结婚"},
      {"zhegecanguanhaochiyoupianyi", "这个餐馆好吃又便宜"},
      {"zhezhongnveshixingweiyingdangshoudaochengfa", "这种虐是行为应当受到惩罚"},
      {"qinglvsedezhiwuranglengxinqingyukuai", "青绿色的植物让冷心情愉快"},
      {"wodejiaxiangzaihenanshengdeyigexiaocunzhuang", "我的家乡在河南省的一个小村庄"},
      {"tadeerziqumeiguoliuxuele", "他的儿子去美国留学了"},
      {"gongsidexinguidingmingtianshengxiao", "公司的新规定明天生效"},
  };
  for (auto [pinyin, first] : corpus) {
    const std::vector<std::string> texts = Candidates(client_, pinyin);
    ASSERT_FALSE(texts.empty()) << pinyin;
    EXPECT_EQ(texts[0], first) << pinyin;
  }
}

// Spellings every pinyin input method takes: "ue" for üe, "gn" for a mistyped "ng".
TEST_F(PinyinTyping, UeStandsForUeUmlautAndGnForNg) {
  const std::pair<const char*, const char*> spellings[] = {
      {"nue", "虐"}, {"lue", "略"}, {"nve", "虐"}, {"lve", "略"}, {"zhogn", "中"},
  };
  for (auto [pinyin, first] : spellings) {
    const std::vector<std::string> texts = Candidates(client_, pinyin);
    ASSERT_FALSE(texts.empty()) << pinyin;
    EXPECT_EQ(texts[0], first) << pinyin;
  }
}

TEST_F(PinyinTyping, FuzzySoundsChosenInTheSettingsReachTheRunningServer) {
  auto offers_zhongguo = [](const std::vector<std::string>& texts) {
    return IndexOf(texts, "中国") >= 0;
  };
  ASSERT_FALSE(offers_zhongguo(Candidates(client_, "zongguo")));

  ASSERT_EQ(home_.Settings({"--set", "fuzzy=zh_z,an_ang"}), 0);
  EXPECT_TRUE(offers_zhongguo(TypeUntil(client_, "zongguo", offers_zhongguo)));
  // The shipped scheme stays as it was; the user's choice lives beside the configuration.
  EXPECT_TRUE(std::filesystem::exists(home_.config_dir() / "pinyin.custom.yaml"));

  ASSERT_EQ(home_.Settings({"--set", "fuzzy="}), 0);
  EXPECT_FALSE(offers_zhongguo(
      TypeUntil(client_, "zongguo", [&](const auto& texts) { return !offers_zhongguo(texts); })));
}

TEST_F(PinyinTyping, CustomPhrasesShowAtTheirPositionAndCommitTheirLines) {
  WriteUserFile("custom_phrases.txt",
                "# code\ttext\tposition\n"
                "dz\t北京市海淀区\\n中关村大街1号\t2\n"
                "dz only two fields\n"
                "sig\t--\\n张三\t1\r\n");
  std::vector<std::string> texts = TypeUntil(client_, "dz", [](const auto& shown) {
    return IndexOf(shown, "北京市海淀区⏎中关村大街1号") >= 0;
  });
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[1], "北京市海淀区⏎中关村大街1号") << "the line after the bad one is kept";
  EXPECT_EQ(Candidates(client_, "sig").at(0), "--⏎张三");

  Type(client_, "dz");
  auto chosen = client_.SendKey('2', 0, 1);
  ASSERT_TRUE(chosen);
  EXPECT_EQ(Field(chosen->commit_text), "北京市海淀区\n中关村大街1号");
  client_.Send(RequestKind::AckCommit, 1);

  // Edited while the server runs: the watcher reads it again.
  WriteUserFile("custom_phrases.txt", "dz\tDZ\t1\n");
  texts = TypeUntil(client_, "dz", [](const auto& shown) { return IndexOf(shown, "DZ") == 0; });
  EXPECT_EQ(IndexOf(texts, "DZ"), 0);
  EXPECT_EQ(IndexOf(texts, "北京市海淀区⏎中关村大街1号"), -1);
}

TEST_F(PinyinTyping, MixedEnglishOffersWordsThatDoNotReadAsPinyin) {
  // Mixed English is on by default.
  const std::vector<std::string> english = Candidates(client_, "helloworld");
  const int place = IndexOf(english, "helloworld");
  EXPECT_GE(place, 0);
  EXPECT_LT(place, 3);
  // An English word that is also whole pinyin stays behind the conversions.
  const std::vector<std::string> pinyin = Candidates(client_, "women");
  EXPECT_EQ(pinyin.at(0), "我们");
  EXPECT_GE(IndexOf(pinyin, "women"), 3);
}

}  // namespace
}  // namespace kavi::win::testing

// Temporary placeholder so the skeleton links; replaced by the real tree.
#include <soundfont/SampleTree.h>
namespace ox::soundfont {
SampleTreeNodeSample::SampleTreeNodeSample() = default;
SampleTreeNodeSample::SampleTreeNodeSample(const SampleTreeNodeSample&) = default;
SampleTreeNodeSample::SampleTreeNodeSample(SampleTreeNodeSample&&) noexcept = default;
SampleTreeNodeSample& SampleTreeNodeSample::operator=(const SampleTreeNodeSample&) = default;
SampleTreeNodeSample& SampleTreeNodeSample::operator=(SampleTreeNodeSample&&) noexcept = default;
SampleTreeNodeSample::~SampleTreeNodeSample() = default;
bool SampleTreeNode::Articulation::operator<(const Articulation&) const { return false; }
struct SampleTreeNode::Impl { std::vector<std::unique_ptr<SampleTreeNode>> c; std::vector<std::unique_ptr<SampleTreeNodeSample>> s; };
SampleTreeNode::SampleTreeNode(int) : d(new Impl) {}
SampleTreeNode::~SampleTreeNode() = default;
SampleTreeNode* SampleTreeNode::addChild(int) { return nullptr; }
void SampleTreeNode::addChild(int, SampleTreeNode*) {}
void SampleTreeNode::addSample(SampleTreeNodeSample*) {}
SampleTreeNode* SampleTreeNode::child(int) const { return nullptr; }
SampleTreeNode* SampleTreeNode::child(int, int) const { return nullptr; }
SampleTreeNode* SampleTreeNode::child(int, int, int) const { return nullptr; }
const std::vector<std::unique_ptr<SampleTreeNode>>& SampleTreeNode::children() const { return d->c; }
unsigned int SampleTreeNode::childrenCount() const { return 0; }
SampleTreeNode* SampleTreeNode::findNode(const std::vector<int>&) const { return nullptr; }
const SampleTreeNodeSample* SampleTreeNode::findSample(const SampleCoordinate&) const { return nullptr; }
const SampleTreeNodeSample* SampleTreeNode::findSample(const SampleCoordinate&, const std::vector<int>&) { return nullptr; }
const SampleTreeNodeSample* SampleTreeNode::findRandomSample() { return nullptr; }
void SampleTreeNode::getSamples(std::vector<SampleTreeNodeSample*>&) {}
int SampleTreeNode::id() const { return 0; }
SampleTreeNode* SampleTreeNode::parent() const { return nullptr; }
unsigned int SampleTreeNode::sampleCount() const { return 0; }
unsigned int SampleTreeNode::recursiveSampleCount() const { return 0; }
const std::vector<std::unique_ptr<SampleTreeNodeSample>>& SampleTreeNode::samples() const { return d->s; }
void SampleTreeNode::sortSamples() {}
struct SampleTree::Impl { std::string n; };
SampleTree::SampleTree(const std::string&, SampleTreeNode*) : d(new Impl) {}
SampleTree::~SampleTree() = default;
void SampleTree::setBuilder(SampleTreeBuilder*) {}
SampleTreeBuilder* SampleTree::builder() const { return nullptr; }
void SampleTree::setPostParse(PostParse) {}
const SampleTree::PostParse SampleTree::postParse() const { return {}; }
SampleTreeNode* SampleTree::root() const { return nullptr; }
const std::string& SampleTree::name() const { return d->n; }
void SampleTree::addFallback(SampleTreeNode::Articulation, SampleTreeNode*) {}
SampleTreeNode* SampleTree::findFallback(SampleTreeNode::Articulation) const { return nullptr; }
const SampleTreeNodeSample* SampleTree::findSample(const SampleCoordinate&) const { return nullptr; }
const SampleTreeNodeSample* SampleTree::findSampleByMidi(const SampleCoordinate&) const { return nullptr; }
const SampleTreeNodeSample* SampleTree::findSampleByMidi(int, int) const { return nullptr; }
void SampleTree::getSamples(std::vector<SampleTreeNodeSample*>&) const {}
int SampleTree::sampleCount() const { return 0; }
SampleTreeBuilder::SampleTreeBuilder() = default;
SampleTreeBuilder::~SampleTreeBuilder() = default;
const SampleTreeNodeSample* SampleTreeBuilder::findSample(const SampleTree*, const SampleCoordinate&) { return nullptr; }
SampleCoordinate SampleTreeBuilder::coordinate(int, int) { return {}; }
const SampleTreeNodeSample* SampleTreeBuilder::findSampleByMidi(const SampleTree*, int, int) { return nullptr; }
struct PitchedSampleTreeBuilder::Impl {};
PitchedSampleTreeBuilder::PitchedSampleTreeBuilder() : d(new Impl) {}
PitchedSampleTreeBuilder::~PitchedSampleTreeBuilder() = default;
SampleTree* PitchedSampleTreeBuilder::operator()() const { return nullptr; }
const SampleTreeNodeSample* PitchedSampleTreeBuilder::findSample(const SampleTree*, const SampleCoordinate&) { return nullptr; }
SampleCoordinate PitchedSampleTreeBuilder::coordinate(int, int) { return {}; }
struct UnpitchedSampleTreeBuilder::Impl {};
UnpitchedSampleTreeBuilder::UnpitchedSampleTreeBuilder() : d(new Impl) {}
UnpitchedSampleTreeBuilder::~UnpitchedSampleTreeBuilder() = default;
SampleTree* UnpitchedSampleTreeBuilder::operator()() const { return nullptr; }
SampleCoordinate UnpitchedSampleTreeBuilder::coordinate(int, int) { return {}; }
} // namespace ox::soundfont

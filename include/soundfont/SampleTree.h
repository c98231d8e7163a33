#pragma once

#include <soundfont/Export.h>
#include <soundfont/SampleCoordinate.h>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ox::soundfont {

class SoundFont;
class SampleTree;

// Threads: a finished tree is read-only. Its searches (findSample,
// findSampleByMidi, findFallback, and the builders' searches) may run on several
// threads at once and on an audio thread: they take no lock and allocate
// nothing. Building, filling and sorting (addChild, addSample, sortSamples, the
// builders' operator()), and getSamples() allocate.

/// One recorded sample as it lies in the tree: its coordinate, an ordering key
/// and its files by pickup name.
struct OXSF_EXPORT SampleTreeNodeSample : public SampleCoordinate {
    uint32_t sortKey = 0;
    std::map<std::string, std::string> files;

    SampleTreeNodeSample();
    SampleTreeNodeSample(const SampleTreeNodeSample& other);
    SampleTreeNodeSample(SampleTreeNodeSample&& other) noexcept;
    SampleTreeNodeSample& operator=(const SampleTreeNodeSample& other);
    SampleTreeNodeSample& operator=(SampleTreeNodeSample&& other) noexcept;
    ~SampleTreeNodeSample();

    bool operator<(const SampleTreeNodeSample& other) const { return sortKey < other.sortKey; }
};

/// A node of a sample tree: an attack, technique or variation value, its
/// children and the samples filed directly under it.
class OXSF_EXPORT SampleTreeNode {
public:
    struct Articulation {
        int32_t attack;
        int32_t technique;
        int32_t variation;
        bool operator<(const Articulation& other) const;
    };

    explicit SampleTreeNode(int id);
    ~SampleTreeNode();
    SampleTreeNode(const SampleTreeNode&) = delete;
    SampleTreeNode& operator=(const SampleTreeNode&) = delete;

    SampleTreeNode* addChild(int id);
    /// Takes ownership of `node` (not null) and makes it a child with id `id`.
    void addChild(int id, SampleTreeNode* node);
    /// Files `sample` here, setting its articulation from this node's place;
    /// the node takes ownership. On the root nothing happens.
    void addSample(SampleTreeNodeSample* sample);

    SampleTreeNode* child(int id) const;
    SampleTreeNode* child(int a, int b) const;
    SampleTreeNode* child(int a, int b, int c) const;
    const std::vector<std::unique_ptr<SampleTreeNode>>& children() const;
    unsigned int childrenCount() const;

    /// The deepest node reached along a prefix of `path` (at least one level), or null.
    SampleTreeNode* findNode(const std::vector<int>& path) const;
    /// The nearest of this node's own samples; earliest wins ties.
    const SampleTreeNodeSample* findSample(const SampleCoordinate& coordinate) const;
    /// The nearest sample at the node addressed by `path`, or at the nearest
    /// node holding samples when that one is empty.
    const SampleTreeNodeSample* findSample(const SampleCoordinate& coordinate,
                                           const std::vector<int>& path);
    /// The first sample of the subtree (deterministic).
    const SampleTreeNodeSample* findRandomSample();
    /// Appends every sample of the subtree, in pre-order.
    void getSamples(std::vector<SampleTreeNodeSample*>& out);

    int id() const;
    SampleTreeNode* parent() const;
    unsigned int sampleCount() const;
    unsigned int recursiveSampleCount() const;
    /// The samples filed directly under this node, in list order.
    const std::vector<std::unique_ptr<SampleTreeNodeSample>>& samples() const;
    void sortSamples();

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

class SampleTreeBuilder;

/// The search tree of one bank.
class OXSF_EXPORT SampleTree {
public:
    using PostParse = std::function<void(SampleTree*, const SoundFont&)>;

    /// Takes ownership of `root` (may be null).
    SampleTree(const std::string& name, SampleTreeNode* root);
    ~SampleTree();
    SampleTree(const SampleTree&) = delete;
    SampleTree& operator=(const SampleTree&) = delete;

    void setBuilder(SampleTreeBuilder* builder);
    SampleTreeBuilder* builder() const;
    void setPostParse(PostParse function);
    const PostParse postParse() const;
    SampleTreeNode* root() const;
    /// "pitched" or "unpitched".
    const std::string& name() const;

    void addFallback(SampleTreeNode::Articulation articulation, SampleTreeNode* node);
    SampleTreeNode* findFallback(SampleTreeNode::Articulation articulation) const;

    /// The sample that best fits `coordinate`, or null.
    const SampleTreeNodeSample* findSample(const SampleCoordinate& coordinate) const;
    /// The sample for the coordinate's MIDI pitch and dynamic, or null.
    const SampleTreeNodeSample* findSampleByMidi(const SampleCoordinate& coordinate) const;
    const SampleTreeNodeSample* findSampleByMidi(int midi, int dynamic) const;
    void getSamples(std::vector<SampleTreeNodeSample*>& out) const;
    /// Every sample of the tree.
    int sampleCount() const;

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

/// Lays out, searches and addresses trees of one kind of instrument.
class OXSF_EXPORT SampleTreeBuilder {
public:
    SampleTreeBuilder();
    virtual ~SampleTreeBuilder();
    SampleTreeBuilder(const SampleTreeBuilder&) = delete;
    SampleTreeBuilder& operator=(const SampleTreeBuilder&) = delete;

    /// A new, empty tree with this builder's layout; the caller owns it.
    virtual SampleTree* operator()() const = 0;
    virtual const SampleTreeNodeSample* findSample(const SampleTree* tree,
                                                   const SampleCoordinate& coordinate);
    virtual SampleCoordinate coordinate(int midi, int dynamic);

    const SampleTreeNodeSample* findSampleByMidi(const SampleTree* tree, int midi, int dynamic);

    /// The node paths (attack, technique, variation ids) the base search walks
    /// for a coordinate, in the order it walks them.
    struct SearchPaths {
        std::array<std::array<int, 3>, 3> paths;
        int count;
        const std::array<int, 3>* begin() const { return paths.data(); }
        const std::array<int, 3>* end() const { return paths.data() + count; }
    };
    /// Attack 1 (finger; brush when unpitched) walks variations 2, 3 and 4
    /// whatever variation was asked for; any other attack its own articulation.
    /// Allocation-free.
    static SearchPaths searchPaths(const SampleCoordinate& coordinate);
};

class OXSF_EXPORT PitchedSampleTreeBuilder : public SampleTreeBuilder {
public:
    PitchedSampleTreeBuilder();
    ~PitchedSampleTreeBuilder() override;

    SampleTree* operator()() const override;
    const SampleTreeNodeSample* findSample(const SampleTree* tree,
                                           const SampleCoordinate& coordinate) override;
    SampleCoordinate coordinate(int midi, int dynamic) override;

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

class OXSF_EXPORT UnpitchedSampleTreeBuilder : public SampleTreeBuilder {
public:
    UnpitchedSampleTreeBuilder();
    ~UnpitchedSampleTreeBuilder() override;

    SampleTree* operator()() const override;
    SampleCoordinate coordinate(int midi, int dynamic) override;

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

} // namespace ox::soundfont

#pragma once

#include <soundfont/Export.h>
#include <soundfont/SampleCoordinate.h>

#include <ox/audio/VoiceShape.h>

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

/// \file
/// The sample tree of a bank and its search: nodes (SampleTreeNode) holding samples
/// (SampleTreeNodeSample), the tree (SampleTree) and the builders that lay trees out
/// and search them (PitchedSampleTreeBuilder, UnpitchedSampleTreeBuilder).
///
/// Below the root, the first level of a tree is the attack, the second the technique,
/// the third the variation; node ids are values of the bank's vocabulary
/// (Soundworld.h). Nearness is SampleCoordinate::distance().
///
/// Ownership: a tree owns its root, a node its children and its samples. Searches
/// return plain pointers that stay valid as long as the tree lives; a bank's tree
/// lives as long as the bank. The library owns one builder of each kind; trees keep
/// plain pointers to them, and they outlive every tree.
///
/// Errors: absence is a null pointer (no fitting sample, no such node, no builder);
/// nothing throws but allocation.
///
/// Threads: a finished tree is read-only. Its searches (findSample,
/// findSampleByMidi, findFallback, and the builders' searches) may run on several
/// threads at once and on an audio thread: they take no lock and allocate
/// nothing. Building, filling and sorting (addChild, addSample, sortSamples, the
/// builders' operator()), and getSamples() allocate, and must be over before
/// searches start.

/// One recorded sample as it lies in the tree: its coordinate, an ordering key
/// and its files by pickup name.
///
/// The coordinate is the one it was recorded at: string, MIDI pitch, dynamic and option
/// from its Sample element, the articulation of its node, and the corrections of its
/// Waves. A node owns its samples; searches hand them out as const pointers.
struct OXSF_EXPORT SampleTreeNodeSample : public SampleCoordinate {
    /// Key of operator<; 0 in every sample the library files, read by no search.
    uint32_t sortKey = 0;
    /// Sample file name (as a Wave's "file" names it) by pickup name, empty for a Wave
    /// without pickup. Players play the first entry: the smallest pickup name.
    std::map<std::string, std::string> files;
    /// The velocities a request by velocity finds it for and its exclusive group,
    /// from its Sample element (or Layer element, for a layer). Read by
    /// SampleTree::findSampleForVelocity() and the players for velocity alone.
    Trigger trigger;
    /// The linear gain its players apply: 1 for a sample, whose Wave's gain is in
    /// its decoded audio; the Layer's gain for a layer.
    float gain = 1.0f;
    /// The voice shape its players take (pan, filter, modulation), from its
    /// Waves (or Layer); null when they give none. Shared by copies.
    std::shared_ptr<const ox::audio::VoiceShape> shape;
    /// The samples that sound with it, from its Layer elements, in document order:
    /// each with its file (under its pickup), corrections, trigger (the group its
    /// sample's when it gives none) and gain, and the coordinate of its sample as
    /// filed. They are not filed in the tree: no search finds them, and they have
    /// no layers of their own.
    std::vector<SampleTreeNodeSample> layers;

    /// A default coordinate, key 0 and no files.
    SampleTreeNodeSample();
    /// Copying copies coordinate, key, files, trigger, gain, shape and layers; moving
    /// takes the files, shape and layers over and leaves the source with none.
    ///@{
    SampleTreeNodeSample(const SampleTreeNodeSample& other);
    SampleTreeNodeSample(SampleTreeNodeSample&& other) noexcept;
    SampleTreeNodeSample& operator=(const SampleTreeNodeSample& other);
    SampleTreeNodeSample& operator=(SampleTreeNodeSample&& other) noexcept;
    ///@}
    ~SampleTreeNodeSample();

    /// Orders by sortKey alone.
    bool operator<(const SampleTreeNodeSample& other) const { return sortKey < other.sortKey; }
};

/// A node of a sample tree: an attack, technique or variation value, its
/// children and the samples filed directly under it.
///
/// A node owns its children and its samples and destroys them with itself; it is not
/// copyable. Builders make every node; the parser only files samples into them.
class OXSF_EXPORT SampleTreeNode {
public:
    /// An attack, technique and variation, ordered by attack, then technique, then
    /// variation: the key of SampleTree's fallback registry.
    struct Articulation {
        int32_t attack;    ///< attack value of the tree's vocabulary
        int32_t technique; ///< technique value
        int32_t variation; ///< variation value
        /// Lexicographic: attack first, then technique, then variation.
        bool operator<(const Articulation& other) const;
    };

    /// A node with id `id` and no parent, children or samples.
    explicit SampleTreeNode(int id);
    ~SampleTreeNode();
    SampleTreeNode(const SampleTreeNode&) = delete;
    SampleTreeNode& operator=(const SampleTreeNode&) = delete;

    /// Creates a child with id `id` after the existing ones and returns it; this node
    /// owns it.
    SampleTreeNode* addChild(int id);
    /// Takes ownership of `node` (not null) and makes it a child with id `id`.
    /// A null `node` is ignored.
    void addChild(int id, SampleTreeNode* node);
    /// Files `sample` here, setting its articulation from this node's place;
    /// the node takes ownership. On the root nothing happens: the sample stays
    /// the caller's. A null sample is ignored.
    void addSample(SampleTreeNodeSample* sample);

    /// The first child whose id is `id`, or null.
    SampleTreeNode* child(int id) const;
    /// child(a), then its first child with id `b`; a negative `b` stops at child(a).
    /// Null when a step finds no node (a later child with id `a` is not tried).
    SampleTreeNode* child(int a, int b) const;
    /// As child(a, b), then the child with id `c`. A negative `b` or `c` skips that
    /// step, so child(a, -1, c) looks for `c` among the children of child(a).
    SampleTreeNode* child(int a, int b, int c) const;
    /// The children, in the order they were added.
    const std::vector<std::unique_ptr<SampleTreeNode>>& children() const;
    /// The number of children.
    unsigned int childrenCount() const;

    /// The deepest node reached along a prefix of `path` (at least one level), or null.
    /// Each level follows the first child with the id; an empty path gives null.
    SampleTreeNode* findNode(const std::vector<int>& path) const;
    /// The nearest of this node's own samples; earliest wins ties. Null when it
    /// holds none.
    const SampleTreeNodeSample* findSample(const SampleCoordinate& coordinate) const;
    /// The nearest sample at the node addressed by `path`, or at the nearest
    /// node holding samples when that one is empty. The climb searches the addressed
    /// node's descendants first, then, for a path of two or more ids, the subtree of
    /// each ancestor in turn up to the root. Null when the path's first id matches no
    /// child or the climb finds no sample.
    const SampleTreeNodeSample* findSample(const SampleCoordinate& coordinate,
                                           const std::vector<int>& path);
    /// The first sample of the subtree (deterministic): own samples first, then each
    /// child's in order; null when the subtree holds none.
    const SampleTreeNodeSample* findRandomSample();
    /// Appends every sample of the subtree, in pre-order. `out` is not cleared; the
    /// nodes keep owning the samples.
    void getSamples(std::vector<SampleTreeNodeSample*>& out);

    /// The attack, technique or variation value this node stands for, by its depth;
    /// for a root, the id its builder gave it (0 pitched, 1 unpitched).
    int id() const;
    /// The node this one is a child of; null for a root.
    SampleTreeNode* parent() const;
    /// The samples filed directly under this node.
    unsigned int sampleCount() const;
    /// The samples of the whole subtree, this node's own included.
    unsigned int recursiveSampleCount() const;
    /// The samples filed directly under this node, in list order.
    const std::vector<std::unique_ptr<SampleTreeNodeSample>>& samples() const;
    /// Puts the sample lists of the subtree in search order: each keeps its filing
    /// order (the order of the bank description), which decides the ties of
    /// findSample() and what findRandomSample() returns.
    void sortSamples();

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

class SampleTreeBuilder;

/// The search tree of one bank.
///
/// Made by a builder's operator()(), filled by SoundBankParser and then owned by its
/// bank (SoundFont::sampleTree()). Owns its root and through it every node and sample;
/// not copyable.
class OXSF_EXPORT SampleTree {
public:
    /// A step the parser runs once, with the tree and its bank, after every sample
    /// is filed. The pitched builder's sets frets from the bank's tuning and moves
    /// natural harmonics to the pitch they sound.
    using PostParse = std::function<void(SampleTree*, const SoundFont&)>;

    /// Takes ownership of `root` (may be null).
    SampleTree(const std::string& name, SampleTreeNode* root);
    ~SampleTree();
    SampleTree(const SampleTree&) = delete;
    SampleTree& operator=(const SampleTree&) = delete;

    /// The builder whose search answers findSample() and findSampleByMidi(); not
    /// owned, null until set. The parser sets the builder that laid the tree out.
    ///@{
    void setBuilder(SampleTreeBuilder* builder);
    SampleTreeBuilder* builder() const;
    ///@}

    /// Replaces the post-parse step.
    void setPostParse(PostParse function);
    /// A copy of the post-parse step; empty when none was set (unpitched trees).
    const PostParse postParse() const;
    /// The root (owned by the tree); null only for a tree made without one.
    SampleTreeNode* root() const;
    /// "pitched" or "unpitched".
    const std::string& name() const;

    /// Registers `node` (not owned) under `articulation`, replacing an earlier entry.
    /// The registry is the host's: no search of the library reads it.
    void addFallback(SampleTreeNode::Articulation articulation, SampleTreeNode* node);
    /// The node registered under exactly `articulation`, or null.
    SampleTreeNode* findFallback(SampleTreeNode::Articulation articulation) const;

    /// The sample that best fits `coordinate`, or null.
    /// The builder's search; when that finds nothing, the nearest sample at the
    /// coordinate's own attack, technique and variation, or at the nearest node
    /// holding samples. Null when the attack is not in the tree or the tree holds no
    /// sample.
    const SampleTreeNodeSample* findSample(const SampleCoordinate& coordinate) const;
    /// The sample for the coordinate's MIDI pitch and dynamic, or null.
    /// The same as findSampleByMidi(int, int); the coordinate's other fields are not
    /// used.
    const SampleTreeNodeSample* findSampleByMidi(const SampleCoordinate& coordinate) const;
    /// The sample a player of `midi` at `dynamic` (0 to 16) plays: the builder's
    /// coordinate(midi, dynamic), searched by the builder, so at pick/sustain/down in
    /// a pitched tree and stick/hit/hit in an unpitched one. Null without a builder or
    /// a fitting sample.
    const SampleTreeNodeSample* findSampleByMidi(int midi, int dynamic) const;
    /// The sample a note at `midi` struck at MIDI `velocity` plays, its velocity
    /// range honoured: findSampleByMidi(midi, dynamicFromVelocity(velocity)) when
    /// that sample's range answers the velocity (always, in a bank without
    /// ranges). Otherwise, of the samples of the node that answered, those whose
    /// range answers it; the nearest by SampleCoordinate::distance(), a sample with
    /// a range of its own counting no dynamic difference (its range chose it), the
    /// earliest winning ties. When none answers, the findSampleByMidi() sample.
    /// Velocities above 127 count as 127. Null as findSampleByMidi().
    const SampleTreeNodeSample* findSampleForVelocity(int midi, int velocity) const;
    /// Appends every sample of the tree to `out`, in pre-order; the tree keeps
    /// owning them.
    void getSamples(std::vector<SampleTreeNodeSample*>& out) const;
    /// Every sample of the tree.
    int sampleCount() const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

/// Lays out, searches and addresses trees of one kind of instrument.
///
/// The library owns one builder of each kind (SoundBankParser::builder()), shared by
/// every tree of that kind. A builder keeps no state: its searches may run on several
/// threads at once.
class OXSF_EXPORT SampleTreeBuilder {
public:
    SampleTreeBuilder();
    virtual ~SampleTreeBuilder();
    SampleTreeBuilder(const SampleTreeBuilder&) = delete;
    SampleTreeBuilder& operator=(const SampleTreeBuilder&) = delete;

    /// A new, empty tree with this builder's layout; the caller owns it.
    virtual SampleTree* operator()() const = 0;
    /// The base search: along each of searchPaths(coordinate), the nearest sample at
    /// the addressed node or, when that node is empty, at the nearest node holding
    /// samples; of those, the nearest, the earlier path winning ties. Null for a null
    /// tree, a tree without root, or when nothing is found.
    virtual const SampleTreeNodeSample* findSample(const SampleTree* tree,
                                                   const SampleCoordinate& coordinate);
    /// The request for `midi` at `dynamic`: a default coordinate with attack,
    /// technique and variation 0 (pick/sustain/down or stick/hit/hit) and that
    /// pitch and dynamic.
    virtual SampleCoordinate coordinate(int midi, int dynamic);

    /// findSample(tree, coordinate(midi, dynamic)), both through this builder's
    /// overrides.
    const SampleTreeNodeSample* findSampleByMidi(const SampleTree* tree, int midi, int dynamic);

    /// The node paths (attack, technique, variation ids) the base search walks
    /// for a coordinate, in the order it walks them.
    struct SearchPaths {
        std::array<std::array<int, 3>, 3> paths; ///< the first `count` are the paths
        int count;                               ///< 1, or 3 for attack 1
        /// The first path, for range-for.
        const std::array<int, 3>* begin() const { return paths.data(); }
        /// Past the last path.
        const std::array<int, 3>* end() const { return paths.data() + count; }
    };
    /// Attack 1 (finger; brush when unpitched) walks variations 2, 3 and 4
    /// whatever variation was asked for; any other attack its own articulation.
    /// Allocation-free.
    static SearchPaths searchPaths(const SampleCoordinate& coordinate);
};

/// The builder of every bank whose type is not a percussion type.
///
/// Its trees have the pitched layout (root id 0; nine attacks, see PitchedSoundworld)
/// and a post-parse step: with a tuning, each sample's fret becomes its MIDI pitch
/// minus its string's open pitch; natural harmonics (5th, 7th, 9th, 12th) move to the
/// pitch they sound, and every harmonic with files is filed at dynamic "P" (7).
/// Requests lie on string 0 with fret `midi` - 40, so that a request by pitch prefers
/// samples on a string tuned to E2 (MIDI 40).
class OXSF_EXPORT PitchedSampleTreeBuilder : public SampleTreeBuilder {
public:
    PitchedSampleTreeBuilder();
    ~PitchedSampleTreeBuilder() override;

    /// A new pitched tree with the post-parse step installed; the caller owns it. The
    /// step refers to this builder, which must outlive the tree.
    SampleTree* operator()() const override;
    /// The base search, SampleTreeBuilder::findSample().
    const SampleTreeNodeSample* findSample(const SampleTree* tree,
                                           const SampleCoordinate& coordinate) override;
    /// The base request, on string 0 with fret `midi` - 40.
    SampleCoordinate coordinate(int midi, int dynamic) override;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

/// The builder of banks whose type is a percussion type.
///
/// Its trees have the unpitched layout (root id 1; nine attacks, see
/// UnpitchedSoundworld) and no post-parse step, and are searched by the base search.
/// Requests have no string and no fret, so pitch and dynamic alone decide: a kit
/// gives each piece its own MIDI note under stick/hit/hit.
class OXSF_EXPORT UnpitchedSampleTreeBuilder : public SampleTreeBuilder {
public:
    UnpitchedSampleTreeBuilder();
    ~UnpitchedSampleTreeBuilder() override;

    /// A new unpitched tree; the caller owns it.
    SampleTree* operator()() const override;
    /// The base request (stick/hit/hit), without string or fret.
    SampleCoordinate coordinate(int midi, int dynamic) override;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace ox::soundfont

#include <soundfont/SampleTree.h>
#include <soundfont/Soundworld.h>

#include "tree/TreeLayout.h"

namespace ox::soundfont {

namespace {

using treelayout::addTechnique;
using US = UnpitchedSoundworld;

} // namespace

struct UnpitchedSampleTreeBuilder::Impl {};

UnpitchedSampleTreeBuilder::UnpitchedSampleTreeBuilder() : m_impl(new Impl) {}

UnpitchedSampleTreeBuilder::~UnpitchedSampleTreeBuilder() = default;

SampleTree* UnpitchedSampleTreeBuilder::operator()() const {
    auto root = std::make_unique<SampleTreeNode>(1);

    // The order of the variations decides which sibling the fallback climb
    // reaches first, so it follows the table, not the values (see hand).
    SampleTreeNode* stick = root->addChild(US::Stick);
    addTechnique(stick, US::Hit,
                 {US::HitVariation, US::Return, US::Choke, US::Edge, US::Mid, US::Bell, US::Open,
                  US::Half, US::Closed, US::Mute, US::Tip, US::Rimshot, US::Sidestick, US::None});
    addTechnique(stick, US::Scrape, {US::Return});
    for (int attack : {US::Brush, US::Rod}) {
        addTechnique(root->addChild(attack), US::Hit,
                     {US::HitVariation, US::Choke, US::Edge, US::Mid, US::Bell, US::Open, US::Half,
                      US::Closed, US::Mute});
    }
    addTechnique(root->addChild(US::Pedal), US::Hit, {US::HitVariation, US::PedalVariation});
    addTechnique(root->addChild(US::Mallet), US::Hit, {US::HitVariation});
    addTechnique(
        root->addChild(US::Hand), US::Hit,
        {US::HitVariation, US::SlapVariation, US::Mute, US::Return, US::HandHit, US::Roll});
    addTechnique(root->addChild(US::Thumb), US::Hit, {US::Body});
    addTechnique(root->addChild(US::Finger4), US::Hit, {US::Body});
    addTechnique(root->addChild(US::Blow), US::Hit, {US::HitVariation});

    return new SampleTree("unpitched", root.release());
}

SampleCoordinate UnpitchedSampleTreeBuilder::coordinate(int midi, int dynamic) {
    return SampleTreeBuilder::coordinate(midi, dynamic);
}

} // namespace ox::soundfont

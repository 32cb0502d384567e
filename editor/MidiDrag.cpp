#include "editor/MidiDrag.h"

#include "persistence/MidiExport.h"

namespace tarvo {

bool startExternalFileDrag(const juce::StringArray& files, juce::Component& source) {
    // The file stays where it is: the drop target copies it.
    return juce::DragAndDropContainer::performExternalDragDropOfFiles(files, false, &source);
}

bool exportMidiDrag(const StepSequencer& sequencer, juce::Component& source,
                    const FileDragStarter& startDrag) {
    const std::filesystem::path file = exportMidi(sequencer);
    return startDrag && startDrag(juce::StringArray(juce::String(file.string())), source);
}

} // namespace tarvo

// Goal "wrap": makes the project's JAR into one program file with the qlx
// launcher, by default in the package phase, and attaches it (type exe) so
// install and deploy carry it. The generator runs in this JVM: nothing
// native is called, so it works wherever Maven runs.
package com.tarnwick.qlx.maven;

import com.tarnwick.qlx.wrap.BuildRequest;
import com.tarnwick.qlx.wrap.WrapException;
import com.tarnwick.qlx.wrap.WrapRequest;
import java.io.File;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import org.apache.maven.artifact.Artifact;
import org.apache.maven.plugin.AbstractMojo;
import org.apache.maven.plugin.MojoExecution;
import org.apache.maven.plugin.MojoExecutionException;
import org.apache.maven.plugin.MojoFailureException;
import org.apache.maven.plugins.annotations.Component;
import org.apache.maven.plugins.annotations.LifecyclePhase;
import org.apache.maven.plugins.annotations.Mojo;
import org.apache.maven.plugins.annotations.Parameter;
import org.apache.maven.plugins.annotations.ResolutionScope;
import org.apache.maven.project.MavenProject;
import org.apache.maven.project.MavenProjectHelper;

@Mojo(name = "wrap", defaultPhase = LifecyclePhase.PACKAGE, requiresDependencyResolution = ResolutionScope.RUNTIME,
        threadSafe = true)
public final class WrapMojo extends AbstractMojo {
    @Parameter(defaultValue = "${project}", readonly = true, required = true)
    private MavenProject project;

    @Parameter(defaultValue = "${mojoExecution}", readonly = true, required = true)
    private MojoExecution execution;

    @Component
    private MavenProjectHelper projectHelper;

    /** Skips the goal. */
    @Parameter(property = "qlx.skip", defaultValue = "false")
    private boolean skip;

    /** The JAR to wrap; default: the project's main artifact. */
    @Parameter(property = "qlx.jar")
    private File jar;

    /** The program to write; default: ${project.build.directory}/${project.build.finalName}.exe (no .exe for linux). */
    @Parameter(property = "qlx.output")
    private File output;

    /** windows (qlx.exe) or linux: which built-in launcher stub to use. */
    @Parameter(property = "qlx.platform", defaultValue = "windows")
    private String platform;

    /** A launcher stub of one's own instead of the built-in one. */
    @Parameter(property = "qlx.stub")
    private File stub;

    /** The application's main class; default: Main-Class of the JAR's manifest. */
    @Parameter
    private String mainClass;

    /** Virtual machine options, one per element. */
    @Parameter
    private List<String> options;

    @Parameter
    private String minJre;

    @Parameter
    private String maxJre;

    /** true, handover or custom. */
    @Parameter
    private String singleInstance;

    /** Windows service name; default: the output's file name without .exe. */
    @Parameter
    private String serviceName;

    @Parameter
    private String displayName;

    @Parameter
    private String serviceDescription;

    /** Services this one depends on. */
    @Parameter
    private List<String> serviceDependencies;

    /** auto, delayed, manual or disabled. */
    @Parameter
    private String startType;

    /** LocalSystem, LocalService, NetworkService, virtual or a user. */
    @Parameter
    private String account;

    /** DELAY[/COUNT[/RESET]] in seconds, or none. */
    @Parameter
    private String recovery;

    /** yes or no. */
    @Parameter
    private String failOnExit;

    /** An .ico file for the program icon. */
    @Parameter
    private File icon;

    /** Default: ${project.version} as four numbers. */
    @Parameter
    private String fileVersion;

    @Parameter
    private String productVersion;

    /** Default: ${project.name}. */
    @Parameter
    private String productName;

    /** Default: ${project.organization.name}. */
    @Parameter
    private String companyName;

    /** Default: ${project.description}. */
    @Parameter
    private String fileDescription;

    @Parameter
    private String copyright;

    /** asInvoker, requireAdministrator or highestAvailable. */
    @Parameter(defaultValue = "asInvoker")
    private String executionLevel;

    @Parameter(defaultValue = "false")
    private boolean utf8CodePage;

    /** Merge the support classes com.tarnwick.qlx.* (service status, instances, tray, event log). */
    @Parameter(defaultValue = "false")
    private boolean support;

    /** Every configuration warning fails the build and nothing is written (qlxwrap --strict). */
    @Parameter(property = "qlx.strict", defaultValue = "false")
    private boolean strict;

    /** A configuration file whose lines follow the ones made from the parameters. */
    @Parameter
    private File configFile;

    /** Further configuration lines ("key value"), for every other key. */
    @Parameter
    private List<String> config;

    /** merge (into the program), lib (copied into lib/ beside it) or none. */
    @Parameter(property = "qlx.dependencies", defaultValue = "merge")
    private String dependencies;

    /** Attach the program to the project (type exe), so install and deploy carry it. */
    @Parameter(defaultValue = "true")
    private boolean attach;

    @Override
    public void execute() throws MojoExecutionException, MojoFailureException {
        if (skip) {
            getLog().info("qlx: skipped");
            return;
        }
        File input = jar != null ? jar : project.getArtifact().getFile();
        if (input == null || !input.isFile()) {
            throw new MojoExecutionException("qlx: no JAR to wrap: run the goal after package, or set <jar>");
        }
        boolean linux = "linux".equals(platform);
        File out = output != null ? output : new File(project.getBuild().getDirectory(),
                project.getBuild().getFinalName() + (linux ? "" : ".exe"));
        BuildRequest request = new BuildRequest();
        WrapRequest w = request.wrap;
        w.jar = input.getPath();
        w.output = out.getPath();
        w.platform = platform;
        w.stub = stub != null ? stub.getPath() : null;
        w.support = support;
        w.strict = strict;
        w.icon = icon != null ? icon.getPath() : null;
        w.executionLevel = executionLevel;
        w.utf8CodePage = utf8CodePage;
        w.identity.name = serviceName;
        w.identity.displayName = displayName;
        w.identity.description = serviceDescription;
        w.identity.dependencies = serviceDependencies == null ? null : String.join("/", serviceDependencies);
        w.identity.startType = startType;
        w.identity.account = account;
        w.identity.recovery = recovery;
        w.identity.failOnExit = failOnExit;
        if (!linux) {
            w.version.fileVersion = fileVersion != null ? fileVersion : BuildRequest.fourNumbers(project.getVersion());
            w.version.productVersion = productVersion != null ? productVersion : w.version.fileVersion;
            w.version.productName = productName != null ? productName : project.getName();
            w.version.company = companyName != null ? companyName
                    : project.getOrganization() != null ? project.getOrganization().getName() : null;
            w.version.fileDescription = fileDescription != null ? fileDescription : project.getDescription();
            w.version.copyright = copyright;
        }
        request.mainClass = mainClass;
        if (options != null) request.options.addAll(options);
        request.minJre = minJre;
        request.maxJre = maxJre;
        request.singleInstance = singleInstance;
        if (config != null) request.configLines.addAll(config);
        request.configFile = configFile;
        request.origins = new PomLocations(project, execution);
        try {
            request.dependencies = BuildRequest.Dependencies.of(dependencies);
            if (request.dependencies != BuildRequest.Dependencies.NONE) request.libraries.addAll(libraries());
            BuildRequest.Outcome outcome = request.run();
            for (String warning : outcome.warnings) getLog().warn("qlx: " + warning);
            for (String note : outcome.notes) getLog().info("qlx: " + note);
            getLog().info("qlx: wrote " + out + (outcome.libraries.isEmpty() ? ""
                    : " and " + outcome.libraries.size() + " libraries in " + new File(out.getParentFile(), "lib")));
        } catch (WrapException e) {
            throw new MojoFailureException("qlxwrap: " + e.getMessage());
        }
        if (attach) {
            projectHelper.attachArtifact(project, "exe", null, out);
            getLog().info("qlx: attached " + out.getName() + " to the project as type exe");
        }
    }

    /** The runtime dependencies (compile and runtime scope), each with a file name of its own. */
    private List<BuildRequest.Library> libraries() {
        List<BuildRequest.Library> out = new ArrayList<BuildRequest.Library>();
        Set<String> names = new HashSet<String>();
        for (Artifact a : project.getArtifacts()) {
            if (a.getFile() == null || !a.getArtifactHandler().isAddedToClasspath()) continue;
            if (!Artifact.SCOPE_COMPILE.equals(a.getScope()) && !Artifact.SCOPE_RUNTIME.equals(a.getScope())) continue;
            String name = a.getFile().getName();
            if (!names.add(name)) {
                name = a.getGroupId() + "." + name;
                names.add(name);
            }
            out.add(new BuildRequest.Library(a.getFile(), name));
        }
        return out;
    }
}
